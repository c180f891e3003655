// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The heartbeat a receiver sends on a Type 5 connection, and the answer it
// expects back: three bytes each, STX and ETX around "H" or ACK.

inline QByteArray heartbeatBytes() {
    return QByteArrayLiteral("\x02"
                             "H"
                             "\x03");
}

inline QByteArray heartbeatAnswerBytes() {
    return QByteArrayLiteral("\x02\x06\x03");
}

// As link 2 tells one: the heartbeat's three bytes alone in one arrival.
inline bool isHeartbeat(QByteArrayView arrival) {
    return arrival == QByteArrayView(heartbeatBytes());
}
