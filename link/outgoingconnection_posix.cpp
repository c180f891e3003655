// SPDX-License-Identifier: GPL-3.0-or-later
#include "outgoingconnection.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool OutgoingConnection::start(const QHostAddress &address, quint16 port) {
    m_error = 0;
    sockaddr_storage remote{};
    socklen_t size = 0;
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
    const int fd = ::socket(remote.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        m_error = errno;
        return false;
    }
    m_fd = fd;
    // So that, after the peer closes, a listener can open on this same port
    // while the old connection is still winding down.
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&remote), size) == -1 && errno != EINPROGRESS) {
        m_error = errno;
        return false;
    }
    watchOutcome();
    return true;
}

quint16 OutgoingConnection::localPort() const {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (m_fd == -1 || ::getsockname(int(m_fd), reinterpret_cast<sockaddr *>(&local), &size) != 0)
        return 0;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
}

// The outcome, even of an immediate connect, is reported from the event loop.
// One notifier serves every connect: a new one each time would be deleted
// later, and that costs the loop a wake of its own.
bool OutgoingConnection::watchOutcome() {
    auto *notifier = static_cast<QSocketNotifier *>(m_watcher);
    if (!notifier) {
        notifier = new QSocketNotifier(QSocketNotifier::Write, this);
        connect(notifier, &QSocketNotifier::activated, this, &OutgoingConnection::checkOutcome);
        m_watcher = notifier;
    }
    notifier->setSocket(m_fd);
    notifier->setEnabled(true);
    return true;
}

void OutgoingConnection::checkOutcome() {
    static_cast<QSocketNotifier *>(m_watcher)->setEnabled(false);
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(int(m_fd), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    m_error = error;
    emit finished();
}

// Kept for the next connect, switched off.
void OutgoingConnection::releaseWatcher() {
    if (m_watcher)
        static_cast<QSocketNotifier *>(m_watcher)->setEnabled(false);
}

void OutgoingConnection::closeDescriptor(qintptr descriptor) {
    ::close(int(descriptor));
}

bool OutgoingConnection::shutdownSending(qintptr descriptor) {
    return ::shutdown(int(descriptor), SHUT_WR) == 0;
}

namespace {

OutgoingConnection::Transfer transferFailure(int error) {
    switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return OutgoingConnection::Transfer::WouldBlock;
    case EPIPE:
    case ECONNRESET:
        return OutgoingConnection::Transfer::Ended;
    default:
        return OutgoingConnection::Transfer::Failed;
    }
}

} // namespace

OutgoingConnection::Transfer OutgoingConnection::send(const char *data, qint64 size, qint64 *sent) {
    *sent = 0;
    ssize_t n = -1;
    do {
        n = ::send(int(m_fd), data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n == -1 && errno == EINTR);
    if (n >= 0) {
        *sent = n;
        return Transfer::Moved;
    }
    m_error = errno;
    return transferFailure(m_error);
}

OutgoingConnection::Transfer OutgoingConnection::receive(char *buffer, qint64 size,
                                                         qint64 *received) {
    *received = 0;
    ssize_t n = -1;
    do {
        n = ::recv(int(m_fd), buffer, size_t(size), MSG_DONTWAIT);
    } while (n == -1 && errno == EINTR);
    if (n > 0) {
        *received = n;
        return Transfer::Moved;
    }
    if (n == 0)
        return Transfer::Ended;
    m_error = errno;
    return transferFailure(m_error);
}

// Nothing to do: every send and receive here says MSG_DONTWAIT.
bool OutgoingConnection::prepareAccepted() {
    return true;
}

QHostAddress OutgoingConnection::peerAddress(quint16 *port) const {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    *port = 0;
    if (m_fd == -1 || ::getpeername(int(m_fd), reinterpret_cast<sockaddr *>(&peer), &size) != 0)
        return {};
    const QHostAddress address(reinterpret_cast<const sockaddr *>(&peer));
    *port = ntohs(peer.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&peer)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&peer)->sin_port);
    return address;
}
