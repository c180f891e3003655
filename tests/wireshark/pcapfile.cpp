// SPDX-License-Identifier: GPL-3.0-or-later
#include "pcapfile.h"

#include <QtEndian>

namespace {

constexpr quint32 kLinkTypeRawIp = 101;
constexpr quint8 kSyn = 0x02, kFin = 0x01, kPush = 0x08, kAck = 0x10;

void put(QByteArray &out, quint32 value, bool bigEndian = true) {
    char bytes[sizeof value];
    bigEndian ? qToBigEndian(value, bytes) : qToLittleEndian(value, bytes);
    out.append(bytes, sizeof value);
}

// One IPv4 packet from 127.0.0.1 to 127.0.0.1, in 32-bit words: version 4 with
// a 20-byte header, time to live 64, TCP with a 20-byte header, a window of
// 65535. Checksums are left at zero, which Wireshark does not check by default.
QByteArray packet(quint16 from, quint16 to, quint32 seq, quint32 ack, quint8 flags,
                  const QByteArray &payload) {
    QByteArray ip;
    for (const quint32 word :
         {0x45000000u | quint32(40 + payload.size()), 0u, 0x40060000u, 0x7f000001u, 0x7f000001u,
          (quint32(from) << 16) | to, seq, ack, ((0x5000u | flags) << 16) | 65535u, 0u})
        put(ip, word);
    return ip + payload;
}

} // namespace

QByteArray pcapFile(const QList<PcapConnection> &connections) {
    QByteArray out;
    for (const quint32 word : {0xa1b2c3d4u, 0x00040002u, 0u, 0u, 65535u, kLinkTypeRawIp})
        put(out, word, false);
    quint32 count = 0;
    const auto add = [&](const QByteArray &data) {
        ++count; // a millisecond apart
        for (const quint32 word : {1'000'000 + count / 1000, (count % 1000) * 1000,
                                   quint32(data.size()), quint32(data.size())})
            put(out, word, false);
        out += data;
    };
    for (const PcapConnection &c : connections) {
        quint32 client = 1000, server = 5000;
        add(packet(c.clientPort, c.serverPort, client++, 0, kSyn, {}));
        add(packet(c.serverPort, c.clientPort, server++, client, kSyn | kAck, {}));
        add(packet(c.clientPort, c.serverPort, client, server, kAck, {}));
        for (const PcapSegment &s : c.segments) {
            if (s.fromClient)
                add(packet(c.clientPort, c.serverPort, client, server, kPush | kAck, s.bytes));
            else
                add(packet(c.serverPort, c.clientPort, server, client, kPush | kAck, s.bytes));
            (s.fromClient ? client : server) += quint32(s.bytes.size());
        }
        add(packet(c.clientPort, c.serverPort, client++, server, kFin | kAck, {}));
        add(packet(c.serverPort, c.clientPort, server++, client, kFin | kAck, {}));
    }
    return out;
}
