#include "pcapfile.h"

#include <QtEndian>

namespace {

constexpr quint32 kLinkTypeRawIp = 101;
constexpr quint8 kSyn = 0x02, kFin = 0x01, kPush = 0x08, kAck = 0x10;

template<typename T> void put(QByteArray &out, T value, bool bigEndian = true) {
    char bytes[sizeof(T)];
    if (bigEndian)
        qToBigEndian(value, bytes);
    else
        qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

// One IPv4 packet from 127.0.0.1 to 127.0.0.1; checksums are left at zero,
// which Wireshark does not check by default.
QByteArray packet(quint16 from, quint16 to, quint32 seq, quint32 ack, quint8 flags,
                  const QByteArray &payload) {
    QByteArray ip;
    put<quint16>(ip, 0x4500); // version 4, 20-byte header
    put<quint16>(ip, quint16(40 + payload.size()));
    put<quint32>(ip, 0);
    put<quint16>(ip, 0x4006); // time to live 64, TCP
    put<quint16>(ip, 0);
    put<quint32>(ip, 0x7f000001);
    put<quint32>(ip, 0x7f000001);
    put<quint16>(ip, from);
    put<quint16>(ip, to);
    put<quint32>(ip, seq);
    put<quint32>(ip, ack);
    put<quint16>(ip, quint16(0x5000 | flags)); // 20-byte header, flags
    put<quint16>(ip, 65535);
    put<quint32>(ip, 0);
    return ip + payload;
}

} // namespace

QByteArray pcapFile(const QList<PcapConnection> &connections) {
    QByteArray out;
    for (const quint32 word : {0xa1b2c3d4u, 0x00040002u, 0u, 0u, 65535u, kLinkTypeRawIp})
        put<quint32>(out, word, false);
    quint32 count = 0;
    const auto add = [&](const QByteArray &data) {
        ++count; // a millisecond apart
        for (const quint32 word : {1'000'000 + count / 1000, (count % 1000) * 1000,
                                   quint32(data.size()), quint32(data.size())})
            put<quint32>(out, word, false);
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
