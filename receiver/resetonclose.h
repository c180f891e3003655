// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// Makes closing the connection on this descriptor send a reset rather than an
// orderly end (a linger time of zero). resetonclose_posix.cpp / _win.cpp.
void setResetOnClose(qintptr descriptor);
