// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectionroom.h"

// Winsock sockets are kernel handles with no per-process cap to fit under.
qint64 connectionRoom() {
    return -1;
}
