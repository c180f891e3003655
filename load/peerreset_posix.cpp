#include "peerreset.h"

#include <cerrno>
#include <sys/socket.h>

bool takePeerReset(qintptr socketDescriptor) {
    if (socketDescriptor < 0)
        return false;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(int(socketDescriptor), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return false;
    return error == ECONNRESET;
}
