// SPDX-License-Identifier: GPL-3.0-or-later
// Winsock before anything that brings in windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "socketcontrol.h"

#include <QTcpSocket>

#include <cstring>
#include <windows.h>

// Qt binds a Windows listener exclusively, which the port of a connection
// still winding down would refuse: the listener is made here, sharing the port.
bool SocketControl::listenOn(QTcpServer &server, const QHostAddress &address, quint16 port) {
    sockaddr_storage local{};
    int size = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&local);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
        size = sizeof(sockaddr_in6);
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&local);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        const bool any = address.protocol() != QAbstractSocket::IPv4Protocol;
        v4->sin_addr.s_addr = htonl(any ? INADDR_ANY : address.toIPv4Address());
        size = sizeof(sockaddr_in);
    }
    const SOCKET socket = ::WSASocketW(local.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET)
        return false;
    const BOOL reuse = TRUE;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse),
                 sizeof reuse);
    if (::bind(socket, reinterpret_cast<sockaddr *>(&local), size) != 0 ||
        ::listen(socket, SOMAXCONN) != 0 || !server.setSocketDescriptor(qintptr(socket))) {
        ::closesocket(socket);
        return false;
    }
    return true;
}

// The numbers are Winsock's own; the texts are the ones the Linux build gives for them.
SocketControl::Failure SocketControl::failureOfSystemError(int error) {
    switch (error) {
    case WSAECONNREFUSED:
        return {kErrorConnectionRefused, QStringLiteral("Connection refused")};
    case WSAETIMEDOUT:
        return {kErrorTimedOut, QStringLiteral("Connection timed out")};
    case WSAECONNRESET:
        return {kErrorConnectionReset, QStringLiteral("Connection reset by peer")};
    case WSAEHOSTUNREACH:
        return {kErrorHostUnreachable, QStringLiteral("Host unreachable")};
    case WSAENETUNREACH:
        return {10051, QStringLiteral("Network is unreachable")};
    case WSAENETDOWN:
        return {10050, QStringLiteral("Network is down")};
    case WSAECONNABORTED:
        return {10053, QStringLiteral("Connection aborted")};
    case WSAEADDRINUSE:
        return {10048, QStringLiteral("Address already in use")};
    case WSAEADDRNOTAVAIL:
        return {10049, QStringLiteral("Address not available")};
    case WSAEACCES:
        return {10013, QStringLiteral("Permission denied")};
    case WSAENOBUFS:
    case WSAEMFILE:
        return {10055, QStringLiteral("No buffer space available")};
    default:
        break;
    }
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(error), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString description =
        length ? QString::fromWCharArray(text, int(length)).trimmed() : QString::number(error);
    ::LocalFree(text);
    const bool winsockNumber = error >= WSABASEERR && error < WSABASEERR + 2000;
    return {qint16(winsockNumber ? error : 10022), QStringLiteral("Socket error: ") + description};
}
