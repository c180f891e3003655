// SPDX-License-Identifier: GPL-3.0-or-later
// Winsock before anything that brings in windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "outgoingconnection.h"

#include <QWinEventNotifier>

#include <algorithm>
#include <cstring>
#include <limits>

bool OutgoingConnection::start(const QHostAddress &address, quint16 port) {
    m_error = 0;
    sockaddr_storage remote{};
    int size = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&remote);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
        v6->sin6_scope_id = address.scopeId().toUInt();
        size = sizeof(sockaddr_in6);
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&remote);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(address.toIPv4Address());
        size = sizeof(sockaddr_in);
    }
    const SOCKET socket = ::WSASocketW(remote.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        m_error = ::WSAGetLastError();
        return false;
    }
    m_fd = qintptr(socket);
    // So that, after the peer closes, a listener can open on this same port
    // while the old connection is still winding down.
    const BOOL reuse = TRUE;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse),
                 sizeof reuse);
    // Also makes the socket non-blocking.
    if (!watchOutcome()) {
        m_error = ::WSAGetLastError();
        return false;
    }
    if (::connect(socket, reinterpret_cast<sockaddr *>(&remote), size) == SOCKET_ERROR &&
        ::WSAGetLastError() != WSAEWOULDBLOCK) {
        m_error = ::WSAGetLastError();
        return false;
    }
    return true;
}

quint16 OutgoingConnection::localPort() const {
    sockaddr_storage local{};
    int size = sizeof local;
    if (m_fd == -1 || ::getsockname(SOCKET(m_fd), reinterpret_cast<sockaddr *>(&local), &size) != 0)
        return 0;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
}

// Windows reports a socket writable before its connect has ended (Qt makes
// writability level-triggered), so the connect's own event is watched: it
// carries the outcome, even of an immediate connect, to the event loop.
bool OutgoingConnection::watchOutcome() {
    const WSAEVENT event = ::WSACreateEvent();
    if (event == WSA_INVALID_EVENT)
        return false;
    m_event = event;
    if (::WSAEventSelect(SOCKET(m_fd), event, FD_CONNECT) != 0)
        return false;
    auto *notifier = new QWinEventNotifier(event, this);
    connect(notifier, &QWinEventNotifier::activated, this, &OutgoingConnection::checkOutcome);
    m_watcher = notifier;
    return true;
}

void OutgoingConnection::checkOutcome() {
    WSANETWORKEVENTS events{};
    if (::WSAEnumNetworkEvents(SOCKET(m_fd), m_event, &events) != 0)
        m_error = ::WSAGetLastError();
    else if (events.lNetworkEvents & FD_CONNECT)
        m_error = events.iErrorCode[FD_CONNECT_BIT];
    else
        return; // not ended yet
    static_cast<QWinEventNotifier *>(m_watcher)->setEnabled(false);
    emit finished();
}

// Called from inside the notifier's own signal, so it is deleted later. The
// socket leaves event selection: QTcpSocket sets up its own.
void OutgoingConnection::releaseWatcher() {
    if (m_watcher) {
        static_cast<QWinEventNotifier *>(m_watcher)->setEnabled(false);
        m_watcher->deleteLater();
        m_watcher = nullptr;
    }
    if (m_event) {
        if (m_fd != -1)
            ::WSAEventSelect(SOCKET(m_fd), nullptr, 0);
        ::WSACloseEvent(m_event);
        m_event = nullptr;
    }
}

void OutgoingConnection::closeDescriptor(qintptr descriptor) {
    ::closesocket(SOCKET(descriptor));
}

bool OutgoingConnection::shutdownSending(qintptr descriptor) {
    return ::shutdown(SOCKET(descriptor), SD_SEND) == 0;
}

namespace {

OutgoingConnection::Transfer transferFailure(int error) {
    switch (error) {
    case WSAEWOULDBLOCK:
        return OutgoingConnection::Transfer::WouldBlock;
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return OutgoingConnection::Transfer::Ended;
    default:
        return OutgoingConnection::Transfer::Failed;
    }
}

int chunk(qint64 size) {
    return int(std::min<qint64>(size, std::numeric_limits<int>::max()));
}

} // namespace

OutgoingConnection::Transfer OutgoingConnection::send(const char *data, qint64 size, qint64 *sent) {
    *sent = 0;
    const int n = ::send(SOCKET(m_fd), data, chunk(size), 0);
    if (n != SOCKET_ERROR) {
        *sent = n;
        return Transfer::Moved;
    }
    m_error = ::WSAGetLastError();
    return transferFailure(m_error);
}

OutgoingConnection::Transfer OutgoingConnection::receive(char *buffer, qint64 size,
                                                         qint64 *received) {
    *received = 0;
    const int n = ::recv(SOCKET(m_fd), buffer, chunk(size), 0);
    if (n > 0) {
        *received = n;
        return Transfer::Moved;
    }
    if (n == 0)
        return Transfer::Ended;
    m_error = ::WSAGetLastError();
    return transferFailure(m_error);
}

bool OutgoingConnection::prepareAccepted() {
    u_long on = 1;
    if (::ioctlsocket(SOCKET(m_fd), FIONBIO, &on) == 0)
        return true;
    m_error = ::WSAGetLastError();
    return false;
}

QHostAddress OutgoingConnection::peerAddress(quint16 *port) const {
    sockaddr_storage peer{};
    int size = sizeof peer;
    *port = 0;
    if (m_fd == -1 || ::getpeername(SOCKET(m_fd), reinterpret_cast<sockaddr *>(&peer), &size) != 0)
        return {};
    const QHostAddress address(reinterpret_cast<const sockaddr *>(&peer));
    *port = ntohs(peer.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&peer)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&peer)->sin_port);
    return address;
}
