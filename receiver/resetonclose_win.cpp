// SPDX-License-Identifier: GPL-3.0-or-later
#include "resetonclose.h"

#include <winsock2.h>

void setResetOnClose(qintptr descriptor) {
    const linger noLinger{1, 0};
    ::setsockopt(SOCKET(descriptor), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char *>(&noLinger), sizeof noLinger);
}
