#include "outgoingconnection.h"

#include <cstring>
#include <winsock2.h>
#include <ws2tcpip.h>

bool OutgoingConnection::start(const QHostAddress &address, quint16 port) {
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
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
    if (::connect(socket, reinterpret_cast<sockaddr *>(&remote), size) == SOCKET_ERROR &&
        ::WSAGetLastError() != WSAEWOULDBLOCK) {
        m_error = ::WSAGetLastError();
        return false;
    }
    watchOutcome();
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

// Windows signals a failed connect as writable too; SO_ERROR holds the reason.
int OutgoingConnection::outcome() const {
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(SOCKET(m_fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) !=
        0)
        error = ::WSAGetLastError();
    return error;
}

void OutgoingConnection::closeDescriptor(qintptr descriptor) {
    ::closesocket(SOCKET(descriptor));
}
