#include "outgoingconnection.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

OutgoingConnection::OutgoingConnection(QObject *parent)
    : QObject(parent) {}

OutgoingConnection::~OutgoingConnection() {
    if (m_fd != -1)
        ::close(m_fd);
}

bool OutgoingConnection::start(const QHostAddress &address, quint16 port) {
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
    m_fd = ::socket(remote.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd == -1) {
        m_error = errno;
        return false;
    }
    // So that, after the peer closes, a listener can open on this same port
    // while the old connection is still winding down.
    const int reuse = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&remote), size) == -1 &&
        errno != EINPROGRESS) {
        m_error = errno;
        return false;
    }
    // The outcome, even of an immediate connect, is reported from the event loop.
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OutgoingConnection::checkOutcome);
    return true;
}

quint16 OutgoingConnection::localPort() const {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (m_fd == -1 || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &size) != 0)
        return 0;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
}

void OutgoingConnection::checkOutcome() {
    m_notifier->setEnabled(false);
    int outcome = 0;
    socklen_t size = sizeof outcome;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &outcome, &size) != 0)
        outcome = errno;
    m_error = outcome;
    emit finished();
}

qintptr OutgoingConnection::takeDescriptor() {
    releaseNotifier(); // QTcpSocket sets up its own on the descriptor
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void OutgoingConnection::cancel() {
    releaseNotifier();
    if (m_fd != -1)
        ::close(m_fd);
    m_fd = -1;
}

// Called from inside the notifier's own signal, so it is deleted later.
void OutgoingConnection::releaseNotifier() {
    if (!m_notifier)
        return;
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
}
