// SPDX-License-Identifier: GPL-3.0-or-later
// Winsock before anything that brings in windows.h.
#include <winsock2.h>

#include "resetprobe.h"

namespace {
// Windows fails a read of a reset connection with WSAECONNRESET. Wine returns
// end of stream there, as for an orderly close, but flags the socket with
// POLLERR; after an orderly close neither happens. Data waiting is left there.
bool readSaysReset(SOCKET socket) {
    WSAPOLLFD entry{socket, POLLRDNORM, 0};
    if (::WSAPoll(&entry, 1, 0) == 1 && (entry.revents & POLLERR))
        return true;
    char byte = 0;
    return ::recv(socket, &byte, 1, MSG_PEEK) == SOCKET_ERROR &&
           ::WSAGetLastError() == WSAECONNRESET;
}
} // namespace

// Windows keeps no pending error for a reset: the read says it.
bool takePendingReset(qintptr socketDescriptor) {
    return socketDescriptor >= 0 && readSaysReset(SOCKET(socketDescriptor));
}

// A second handle on the same socket: Qt's closesocket leaves the connection to it.
void ResetProbe::keep(qintptr socketDescriptor) {
    drop();
    if (socketDescriptor == -1)
        return;
    WSAPROTOCOL_INFOW info{};
    if (::WSADuplicateSocketW(SOCKET(socketDescriptor), ::GetCurrentProcessId(), &info) != 0)
        return;
    const SOCKET probe = ::WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                      &info, 0, WSA_FLAG_OVERLAPPED);
    if (probe == INVALID_SOCKET)
        return;
    u_long nonBlocking = 1;
    ::ioctlsocket(probe, FIONBIO, &nonBlocking);
    m_handle = qintptr(probe);
}

bool connectionWasReset(qintptr socketDescriptor) {
    return readSaysReset(SOCKET(socketDescriptor));
}

bool ResetProbe::saysReset() const {
    return m_handle != -1 && connectionWasReset(m_handle);
}

void ResetProbe::drop() {
    if (m_handle != -1)
        ::closesocket(SOCKET(m_handle));
    m_handle = -1;
}
