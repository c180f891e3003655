// SPDX-License-Identifier: GPL-3.0-or-later
#include "type4link.h"

#include <limits>

namespace {
constexpr int kTypeFourRow = 0;
}

Type4Link::Type4Link(LinkHost &host, QObject *parent)
    : TcpLink(host, kTypeFourRow, parent) {}

void Type4Link::closeSocketIfOpen() {
    if (m_socket.socketState() != SocketState::Closed)
        m_socket.Close();
}

void Type4Link::originate() {
    gResponseTime = 0;
    connectAndLog();
}

bool Type4Link::holdingForAnswer() const {
    return m_holdAfterSendMs > 0 && m_sinceSend.isValid() &&
           m_socket.socketState() == SocketState::Connected &&
           !m_sinceSend.hasExpired(m_holdAfterSendMs);
}

// Link 1 holds a connection only while a packet is in flight: the first poll
// after the send closes it, answered or not.
void Type4Link::pollWithNothingPending() {
    if (holdingForAnswer())
        return;
    m_sinceSend.invalidate();
    forgetExchange();
    m_socket.Close();
    log(QStringLiteral("Close Socket"));
    emit closedByPoll();
}

void Type4Link::responseShown() {
    m_socket.Close();
}

QString Type4Link::countDelayed() {
    if (gDelayedCount < std::numeric_limits<qint32>::max())
        ++gDelayedCount;
    // Written as a signed number: a space stands where a minus sign would.
    return gDelayedCount >= 0 ? QLatin1Char(' ') + QString::number(gDelayedCount)
                              : QString::number(gDelayedCount);
}
