// SPDX-License-Identifier: GPL-3.0-or-later
#include "socketcontrol.h"

#include "outgoingconnection.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpSocket>

// The system's side: error numbers and texts in socketcontrol_posix.cpp and
// socketcontrol_win.cpp, the reset probe in resetprobe_*.cpp, the single-attempt
// connect in outgoingconnection_*.cpp.

namespace {

constexpr qint32 kMaxPort = 65535;

bool readPort(const QString &text, qint32 *port) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 1 || value > kMaxPort)
        return false;
    *port = value;
    return true;
}

QString addressText(const QHostAddress &address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

// What Winsock reports as LocalIP for a socket not tied to one interface.
QString machineAddress() {
    static const QString address = [] {
        const auto all = QNetworkInterface::allAddresses();
        for (const QHostAddress &candidate : all) {
            if (candidate.protocol() == QAbstractSocket::IPv4Protocol && !candidate.isLoopback())
                return candidate.toString();
        }
        return QStringLiteral("127.0.0.1");
    }();
    return address;
}

bool isAnyAddress(const QHostAddress &address) {
    return address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
           address == QHostAddress::AnyIPv6;
}

QHostAddress preferIPv4(const QList<QHostAddress> &addresses) {
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address;
    }
    return addresses.first();
}

} // namespace

SocketControl::SocketControl(QObject *parent)
    : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &SocketControl::takeRequests);
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(kConnectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        dropOutgoing();
        fail({kErrorTimedOut, QStringLiteral("Connection timed out")});
    });
}

SocketControl::~SocketControl() {
    Close();
}

qint64 SocketControl::monotonicNs() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.nsecsElapsed();
}

QString SocketControl::LocalIP() const {
    if (m_localAddress.isNull() || isAnyAddress(m_localAddress))
        return machineAddress();
    return addressText(m_localAddress);
}

// Queues an event; it is dropped if the socket is closed before it is delivered.
void SocketControl::post(std::function<void()> deliver) {
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, deliver = std::move(deliver)] {
            if (generation == m_generation)
                deliver();
        },
        Qt::QueuedConnection);
}

bool SocketControl::Bind(const QString &localPort, const QString &localIP) {
    qint32 port = 0;
    QHostAddress address;
    if (m_state != SocketState::Closed || !readPort(localPort, &port) ||
        !address.setAddress(localIP.trimmed()))
        return false;
    m_localPort = port;
    m_localAddress = address;
    m_state = SocketState::Open;
    return true;
}

bool SocketControl::Listen() {
    const bool bound = m_state == SocketState::Open;
    const bool reusable =
        m_state == SocketState::Closed && m_localPort > 0 && !m_localAddress.isNull();
    if (!bound && !reusable)
        return false;
    if (!listenOn(m_server, m_localAddress, static_cast<quint16>(m_localPort))) {
        m_state = SocketState::Closed;
        return false;
    }
    m_localAddress = m_server.serverAddress();
    m_localPort = m_server.serverPort();
    m_state = SocketState::Listening;
    return true;
}

bool SocketControl::Connect() {
    QHostAddress literal;
    const QString host = m_remoteHost.trimmed();
    if (m_state != SocketState::Closed || host.isEmpty() || m_remotePort < 1 ||
        m_remotePort > kMaxPort)
        return false;
    m_localPort = 0;
    m_localAddress.clear();
    m_remoteHostIP.clear();
    m_connectStartedNs = monotonicNs();
    if (literal.setAddress(host)) {
        startConnection(literal);
        return true;
    }
    m_state = SocketState::ResolvingHost;
    // The string-based form: the functor form leaks its slot object when this
    // socket is destroyed before the lookup ends (Qt 6.4).
    m_lookupId = QHostInfo::lookupHost(host, this, SLOT(hostLookedUp(QHostInfo)));
    return true;
}

void SocketControl::hostLookedUp(const QHostInfo &info) {
    if (info.lookupId() != m_lookupId)
        return; // an abandoned lookup
    m_lookupId = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        fail({kErrorHostNotFound, QStringLiteral("Host not found")});
        return;
    }
    m_state = SocketState::HostResolved;
    startConnection(preferIPv4(info.addresses()));
}

void SocketControl::startConnection(const QHostAddress &address) {
    m_state = SocketState::Connecting;
    m_outgoing = new OutgoingConnection(this);
    if (!m_outgoing->start(address, static_cast<quint16>(m_remotePort))) {
        const int error = m_outgoing->error();
        dropOutgoing();
        fail(failureOfSystemError(error));
        return;
    }
    m_localPort = m_outgoing->localPort();
    connect(m_outgoing, &OutgoingConnection::finished, this, &SocketControl::outgoingFinished);
    m_connectTimer.start();
}

void SocketControl::outgoingFinished() {
    m_connectTimer.stop();
    const int error = m_outgoing->error();
    if (error != 0) {
        dropOutgoing();
        fail(failureOfSystemError(error));
        return;
    }
    auto *socket = new QTcpSocket(this);
    const qintptr descriptor = m_outgoing->takeDescriptor();
    dropOutgoing();
    if (!socket->setSocketDescriptor(descriptor)) {
        OutgoingConnection::closeDescriptor(descriptor);
        fail(failureOf(*socket));
        socket->deleteLater();
        return;
    }
    adopt(socket);
    m_connectedNs = monotonicNs();
    rememberEndpoints();
    m_resetProbe.keep(socket->socketDescriptor());
    post([this] {
        m_state = SocketState::Connected;
        emit connectEvent();
    });
    // A reset between the connect and the adoption: Wine tells a socket
    // registered after it of nothing.
    if (m_resetProbe.saysReset())
        peerEnded(false);
}

void SocketControl::dropOutgoing() {
    m_connectTimer.stop();
    if (m_outgoing) {
        disconnect(m_outgoing, nullptr, this, nullptr);
        m_outgoing->cancel();
        m_outgoing->deleteLater();
    }
    m_outgoing = nullptr;
}

void SocketControl::adopt(QTcpSocket *socket) {
    m_socket = socket;
    m_arrivalQueued = false;
    m_endQueued = false;
    socket->setReadBufferSize(kMaxArrivalBytes);
    connect(socket, &QTcpSocket::readyRead, this, &SocketControl::scheduleArrival);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_socket && m_socket->bytesToWrite() == 0) {
            m_sendCompleteNs = monotonicNs();
            post([this] { emit sendCompleteEvent(); });
        }
    });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError) { peerEnded(true); });
    connect(socket, &QTcpSocket::disconnected, this, [this] { peerEnded(false); });
    // Data or a close that came before the socket was adopted.
    if (socket->bytesAvailable() > 0)
        scheduleArrival();
}

void SocketControl::rememberEndpoints() {
    if (!m_socket)
        return;
    m_localPort = m_socket->localPort();
    m_localAddress = m_socket->localAddress();
    m_remoteHostIP = addressText(m_socket->peerAddress());
}

// A peer's close and a peer's reset both reach QTcpSocket as "remote host
// closed"; only the kernel's view of the connection tells them apart.
void SocketControl::peerEnded(bool qtReportedError) {
    if (m_endQueued || !m_socket)
        return;
    const bool peerGone =
        !qtReportedError || m_socket->error() == QAbstractSocket::RemoteHostClosedError;
    m_endQueued = true;
    if (!peerGone) {
        m_resetProbe.drop();
        fail(failureOf(*m_socket));
        return;
    }
    const bool reset = m_resetProbe.saysReset();
    m_resetProbe.drop();
    if (reset) {
        fail({kErrorConnectionReset, QStringLiteral("Connection reset by peer")});
        return;
    }
    post([this] {
        m_state = SocketState::Closing;
        emit closeEvent();
    });
}

void SocketControl::fail(const Failure &failure) {
    post([this, failure] {
        m_state = SocketState::Error;
        emit errorEvent(failure.number, failure.description);
    });
}

void SocketControl::scheduleArrival() {
    if (m_arrivalQueued)
        return;
    m_arrivalQueued = true;
    m_arrivalNs = monotonicNs();
    post([this] {
        m_arrivalQueued = false;
        const qint64 waiting = m_socket ? m_socket->bytesAvailable() : 0;
        if (waiting > 0)
            emit dataArrivalEvent(waiting);
    });
}

bool SocketControl::SendData(const QByteArray &data) {
    if (m_state != SocketState::Connected || !m_socket)
        return false;
    const qint64 queued = m_socket->bytesToWrite();
    if (queued > 0 && queued + data.size() > kMaxQueuedSendBytes)
        return false;
    return m_socket->write(data) == data.size();
}

QByteArray SocketControl::GetData() {
    if (!m_socket)
        return {};
    QByteArray data = m_socket->read(kMaxArrivalBytes);
    if (m_socket->bytesAvailable() > 0)
        scheduleArrival();
    return data;
}

void SocketControl::takeRequests() {
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        socket->setReadBufferSize(kMaxArrivalBytes);
        const qint32 requestId = static_cast<qint32>(socket->socketDescriptor());
        if (m_requests.size() >= kMaxPendingRequests || m_requests.contains(requestId)) {
            release(socket);
            continue;
        }
        m_requests.insert(requestId, socket);
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            this,
            [this, generation, requestId] {
                QTcpSocket *request = m_requests.value(requestId);
                if (generation != m_generation || !request) {
                    dropRequest(requestId);
                    return;
                }
                m_remoteHostIP = addressText(request->peerAddress());
                emit connectionRequestEvent(requestId);
            },
            Qt::QueuedConnection);
    }
}

void SocketControl::dropRequest(qint32 requestId) {
    if (QTcpSocket *request = m_requests.take(requestId))
        release(request);
}

bool SocketControl::Accept(qint32 requestId) {
    if (m_state != SocketState::Closed || !m_requests.contains(requestId))
        return false;
    QTcpSocket *socket = m_requests.take(requestId);
    // One connection at a time: other waiting requests are turned away.
    const QList<qint32> others = m_requests.keys();
    for (const qint32 other : others)
        dropRequest(other);
    adopt(socket);
    m_state = SocketState::Connected;
    m_connectedNs = monotonicNs();
    rememberEndpoints();
    m_resetProbe.keep(socket->socketDescriptor());
    if (socket->state() != QAbstractSocket::ConnectedState)
        peerEnded(false);
    return true;
}

void SocketControl::Close() {
    ++m_generation;
    m_arrivalQueued = false;
    m_endQueued = false;
    m_lookupId = -1; // a lookup still running is ignored when it ends
    m_server.close();
    dropOutgoing();
    m_resetProbe.drop();
    if (m_socket)
        release(m_socket);
    m_socket = nullptr;
    m_state = SocketState::Closed;
}

// Lets a socket finish sending what was queued, then deletes it; a peer that
// does not take the data gets kCloseLingerMs before the connection is cut.
void SocketControl::release(QTcpSocket *socket) {
    disconnect(socket, nullptr, this, nullptr);
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kCloseLingerMs, socket, &QTcpSocket::abort);
    socket->disconnectFromHost();
}

SocketControl::Failure SocketControl::failureOf(const QTcpSocket &socket) {
    const QString qtText = socket.errorString();
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return {kErrorConnectionRefused, QStringLiteral("Connection refused")};
    case QAbstractSocket::RemoteHostClosedError:
        return {kErrorConnectionReset, QStringLiteral("Connection reset by peer")};
    case QAbstractSocket::HostNotFoundError:
        return {kErrorHostNotFound, QStringLiteral("Host not found")};
    case QAbstractSocket::SocketAccessError:
        return {10013, QStringLiteral("Permission denied")};
    case QAbstractSocket::SocketResourceError:
        return {10055, QStringLiteral("No buffer space available")};
    case QAbstractSocket::SocketTimeoutError:
        return {kErrorTimedOut, QStringLiteral("Connection timed out")};
    case QAbstractSocket::AddressInUseError:
        return {10048, QStringLiteral("Address already in use")};
    case QAbstractSocket::SocketAddressNotAvailableError:
        return {10049, QStringLiteral("Address not available")};
    case QAbstractSocket::NetworkError:
        // Qt folds several system errors into NetworkError; its (untranslated)
        // text is all that still tells them apart.
        if (qtText.contains(QLatin1String("timed out"), Qt::CaseInsensitive))
            return {kErrorTimedOut, QStringLiteral("Connection timed out")};
        if (qtText.contains(QLatin1String("host unreachable"), Qt::CaseInsensitive))
            return {kErrorHostUnreachable, QStringLiteral("Host unreachable")};
        if (qtText.contains(QLatin1String("network unreachable"), Qt::CaseInsensitive))
            return {10051, QStringLiteral("Network is unreachable")};
        return {10050, QStringLiteral("Network error: ") + qtText};
    default:
        return {10022, QStringLiteral("Socket error: ") + qtText};
    }
}
