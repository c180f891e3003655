// SPDX-License-Identifier: GPL-3.0-or-later
#include "resetprobe.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

bool takePendingReset(qintptr socketDescriptor) {
    if (socketDescriptor < 0)
        return false;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return false;
    return error == ECONNRESET;
}

void ResetProbe::keep(qintptr socketDescriptor) {
    drop();
    if (socketDescriptor != -1)
        m_handle = ::fcntl(int(socketDescriptor), F_DUPFD_CLOEXEC, 0);
}

// After a peer's orderly close the connection waits in CLOSE_WAIT for our
// close; after a reset the kernel has already closed it.
bool connectionWasReset(qintptr socketDescriptor) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(int(socketDescriptor), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    return info.tcpi_state == TCP_CLOSE;
}

bool ResetProbe::saysReset() const {
    return m_handle != -1 && connectionWasReset(m_handle);
}

void ResetProbe::drop() {
    if (m_handle != -1)
        ::close(int(m_handle));
    m_handle = -1;
}
