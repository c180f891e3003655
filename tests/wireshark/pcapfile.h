// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

// A capture file of TCP connections over 127.0.0.1: each connection opens
// with a handshake, carries its segments in order and ends with a FIN from
// each side.
struct PcapSegment {
    bool fromClient = true;
    QByteArray bytes;
};

struct PcapConnection {
    quint16 clientPort = 0;
    quint16 serverPort = 0;
    QList<PcapSegment> segments;
};

QByteArray pcapFile(const QList<PcapConnection> &connections);
