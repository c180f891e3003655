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
bool OutgoingConnection::watchOutcome() {
    auto *notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    connect(notifier, &QSocketNotifier::activated, this, &OutgoingConnection::checkOutcome);
    m_watcher = notifier;
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

// Called from inside the notifier's own signal, so it is deleted later.
void OutgoingConnection::releaseWatcher() {
    if (!m_watcher)
        return;
    static_cast<QSocketNotifier *>(m_watcher)->setEnabled(false);
    m_watcher->deleteLater();
    m_watcher = nullptr;
}

void OutgoingConnection::closeDescriptor(qintptr descriptor) {
    ::close(int(descriptor));
}
