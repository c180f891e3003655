// SPDX-License-Identifier: GPL-3.0-or-later
#include "resetonclose.h"

#include <sys/socket.h>

void setResetOnClose(qintptr descriptor) {
    const linger noLinger{1, 0};
    ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
}
