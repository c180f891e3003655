#include "peerreset.h"

#include <winsock2.h>

bool takePeerReset(qintptr socketDescriptor) {
    if (socketDescriptor < 0)
        return false;
    int error = 0;
    int size = sizeof error;
    if (getsockopt(SOCKET(socketDescriptor), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error),
                   &size) != 0)
        return false;
    return error == WSAECONNRESET;
}
