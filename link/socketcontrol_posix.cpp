// SPDX-License-Identifier: GPL-3.0-or-later
#include "socketcontrol.h"

#include <QTcpSocket>

#include <cerrno>
#include <cstring>

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
