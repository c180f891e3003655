// SPDX-License-Identifier: GPL-3.0-or-later
#include "tcplink.h"

#include "visibletext.h"

#include <limits>

TcpLink::TcpLink(LinkHost &host, int row, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_row(row) {
    connect(&m_socket, &SocketControl::connectEvent, this, &TcpLink::onConnect);
    connect(&m_socket, &SocketControl::connectionRequestEvent, this, &TcpLink::onConnectionRequest);
    connect(&m_socket, &SocketControl::dataArrivalEvent, this, &TcpLink::onDataArrival);
    connect(&m_socket, &SocketControl::sendCompleteEvent, this, &TcpLink::onSendComplete);
    connect(&m_socket, &SocketControl::closeEvent, this, &TcpLink::onPeerClose);
    connect(&m_socket, &SocketControl::errorEvent, this, &TcpLink::onError);

    m_pollTimer.setInterval(kPollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &TcpLink::sendPoll);
    m_pollTimer.start();
    m_responseTimer.setTimerType(Qt::PreciseTimer);
    m_responseTimer.setInterval(kResponseTickMs);
    connect(&m_responseTimer, &QTimer::timeout, this, &TcpLink::responseTick);
    m_responseTimer.start();
}

TcpLink::~TcpLink() {
    m_socket.Close();
}

QString TcpLink::dateTimeText() const {
    return m_host.currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

void TcpLink::setUp(qint16 direction) {
    if (direction == kServe)
        serve();
    else
        originate();
}

void TcpLink::unableToSetSocket() {
    log(QStringLiteral("Unable to set socket"));
    emit socketNotSet();
}

void TcpLink::serve() {
    if (!m_socket.Bind(m_host.txbPortText(m_row), m_host.txbAddressText(m_row)) ||
        !m_socket.Listen()) {
        unableToSetSocket();
        return;
    }
    log(QStringLiteral("TCP Remote Server: Local port <") + QString::number(m_socket.LocalPort()) +
        QStringLiteral("> Local IP <") + m_socket.LocalIP() + QStringLiteral(" > "));
}

void TcpLink::connectAndLog() {
    if (!m_socket.Connect()) {
        unableToSetSocket();
        return;
    }
    log(QStringLiteral("TCP TCP Originate: Remote port <") +
        QString::number(m_socket.RemotePort()) + QStringLiteral("> Remote IP <") +
        m_socket.RemoteHost() + QStringLiteral(" > "));
    log(QStringLiteral("TCP Current: Local port <") + QString::number(m_socket.LocalPort()) +
        QStringLiteral("> Local IP <") + m_socket.LocalIP() + QStringLiteral(" > "));
}

void TcpLink::sendPoll() {
    QByteArray &pending = pendingPacket();
    const SocketState state = m_socket.socketState();
    if (pending.isEmpty()) {
        if (state != SocketState::Closed)
            pollWithNothingPending();
        return;
    }
    if (state == SocketState::Closed) {
        originate(); // the packet stays pending until connected
    } else if (state == SocketState::Connected) {
        m_awaitingHandover = m_socket.SendData(pending);
        m_awaitingResponse = false;
        pending.clear();
        packetSent();
    }
}

void TcpLink::forgetExchange() {
    m_awaitingHandover = false;
    m_awaitingResponse = false;
}

void TcpLink::onConnect() {
    m_connectStats.add((m_socket.connectedNs() - m_socket.connectStartedNs()) / 1000);
    log(QStringLiteral("Event: Connected"));
}

void TcpLink::onConnectionRequest(qint32 requestId) {
    // Closing the listener first makes a link serve one connection at a time.
    if (m_socket.socketState() != SocketState::Closed)
        m_socket.Close();
    m_socket.Accept(requestId);
    log(QStringLiteral("Event: Connect request id = ") + QString::number(requestId) +
        QStringLiteral(" from <") + m_socket.RemoteHostIP() + QStringLiteral(">"));
}

void TcpLink::onPeerClose() {
    log(QStringLiteral("Event: Port Closed"));
    forgetExchange();
    if (m_socket.socketState() != SocketState::Closed)
        m_socket.Close();
    m_socket.Listen(); // on the port and address the connection used; a failure leaves it closed
}

void TcpLink::onError(qint16 number, const QString &description) {
    if (number == SocketControl::kErrorConnectionRefused)
        pendingPacket().clear();
    log(QStringLiteral("Event: Socket error ") + description);
    forgetExchange();
    m_socket.Close();
}

void TcpLink::onSendComplete() {
    pendingPacket().clear();
    if (!m_awaitingHandover)
        return;
    m_awaitingHandover = false;
    m_handoverNs = m_socket.sendCompleteNs();
    m_awaitingResponse = true;
    emit packetHandedOver();
}

void TcpLink::onDataArrival() {
    const QByteArray data = m_socket.GetData();
    if (answeredHeartbeat(data))
        return;
    const qint64 arrivalNs = m_socket.arrivalNs();
    log(QStringLiteral("Response Time ") + QString::number(responseTimeCounter()) +
        QStringLiteral(" milliseconds    ") + m_socket.RemoteHostIP() +
        QStringLiteral("> Data Pkt Rxd"));
    emit responseArrived(data, responseTimeCounter());
    showResponse(data);
    responseShown();
    m_responseTimer.stop();
    countProcessed();
    if (m_awaitingResponse && arrivalNs >= m_handoverNs) {
        m_awaitingResponse = false;
        const qint64 usec = (arrivalNs - m_handoverNs) / 1000;
        m_responseStats.add(usec);
        emit responseMeasured(usec);
    }
}

void TcpLink::showResponse(const QByteArray &data) {
    QString shown = dateTimeText() + QLatin1Char(' ');
    if (data.size() > kShownResponseBytes)
        shown +=
            QStringLiteral("<%1 earlier bytes not shown>").arg(data.size() - kShownResponseBytes);
    m_host.setTxbMessage(shown + toVisibleText(data.right(kShownResponseBytes)));
}

void TcpLink::countProcessed() {
    qint32 &processed = m_host.gProcessedCount();
    if (processed < std::numeric_limits<qint32>::max())
        ++processed;
    m_host.setLbProcessed(QString::number(processed));
}

void TcpLink::responseTick() {
    qint32 &counter = responseTimeCounter();
    counter = counter > std::numeric_limits<qint32>::max() - kResponseTickMs
                  ? std::numeric_limits<qint32>::max()
                  : counter + kResponseTickMs;
    if (counter <= kDelayLimitMs)
        return;
    const QString count = countDelayed();
    m_host.setLbLastDelayed(dateTimeText());
    m_host.setTxbDelayedCt(count);
    counter = 0;
    m_responseTimer.stop();
}
