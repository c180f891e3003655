// SPDX-License-Identifier: GPL-3.0-or-later
#include "type5link.h"

#include "heartbeat.h"

namespace {

constexpr int kTypeFiveRow = 1;

} // namespace

Type5Link::Type5Link(LinkHost &host, QObject *parent)
    : TcpLink(host, kTypeFiveRow, parent) {}

void Type5Link::originate() {
    if (m_socket.socketState() == SocketState::Connected)
        return;
    m_socket.Close();
    forgetExchange();
    m_socket.setRemoteHost(m_host.txbAddressText(kTypeFiveRow));
    bool isNumber = false;
    const qint32 port = m_host.txbPortText(kTypeFiveRow).trimmed().toInt(&isNumber);
    if (!isNumber) {
        unableToSetSocket();
        return;
    }
    m_socket.setRemotePort(port);
    ResponseTime2 = 0;
    connectAndLog();
}

// Only the three heartbeat bytes alone in one arrival are a heartbeat.
bool Type5Link::answeredHeartbeat(const QByteArray &data) {
    if (!isHeartbeat(data))
        return false;
    m_socket.SendData(heartbeatAnswerBytes());
    log(QStringLiteral("Rxed Heartbeat. Send back ACK"));
    return true;
}

QString Type5Link::countDelayed() {
    if (DelayedCount2 < kMaxDelayedCount)
        ++DelayedCount2;
    else
        log(QStringLiteral("Delayed count full at ") + QString::number(kMaxDelayedCount) +
            QStringLiteral("; later delays are not counted"));
    return QString::number(DelayedCount2);
}
