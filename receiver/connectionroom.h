// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// How many connections this process can hold at once, after raising its own
// descriptor limit as far as the system lets it; -1 where the system sets no
// such limit. connectionroom_posix.cpp / _win.cpp.
qint64 connectionRoom();
