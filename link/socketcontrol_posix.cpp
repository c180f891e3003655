#include "socketcontrol.h"

#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

// Qt lets a Linux listener reuse the port of a connection that is winding down.
bool SocketControl::listenOn(QTcpServer &server, const QHostAddress &address, quint16 port) {
    return server.listen(address, port);
}

SocketControl::Failure SocketControl::failureOfSystemError(int error) {
    switch (error) {
    case ECONNREFUSED:
        return {kErrorConnectionRefused, QStringLiteral("Connection refused")};
    case ETIMEDOUT:
        return {kErrorTimedOut, QStringLiteral("Connection timed out")};
    case ECONNRESET:
        return {kErrorConnectionReset, QStringLiteral("Connection reset by peer")};
    case EHOSTUNREACH:
        return {kErrorHostUnreachable, QStringLiteral("Host unreachable")};
    case ENETUNREACH:
        return {10051, QStringLiteral("Network is unreachable")};
    case ENETDOWN:
        return {10050, QStringLiteral("Network is down")};
    case ECONNABORTED:
        return {10053, QStringLiteral("Connection aborted")};
    case EADDRINUSE:
        return {10048, QStringLiteral("Address already in use")};
    case EADDRNOTAVAIL:
        return {10049, QStringLiteral("Address not available")};
    case EACCES:
    case EPERM:
        return {10013, QStringLiteral("Permission denied")};
    case ENOBUFS:
    case EMFILE:
    case ENFILE:
        return {10055, QStringLiteral("No buffer space available")};
    default:
        return {10022,
                QStringLiteral("Socket error: ") + QString::fromLocal8Bit(std::strerror(error))};
    }
}

void SocketControl::keepResetProbe() {
    dropResetProbe();
    if (m_socket && m_socket->socketDescriptor() != -1)
        m_resetProbe = ::fcntl(int(m_socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
}

// After a peer's orderly close the connection waits in CLOSE_WAIT for our
// close; after a reset the kernel has already closed it.
bool SocketControl::probeSaysReset() {
    if (m_resetProbe == -1)
        return false;
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(int(m_resetProbe), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    return info.tcpi_state == TCP_CLOSE;
}

void SocketControl::dropResetProbe() {
    if (m_resetProbe != -1)
        ::close(int(m_resetProbe));
    m_resetProbe = -1;
}
