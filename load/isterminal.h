// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>

// True when the stream is a terminal (the status line is then redrawn in
// place rather than printed a line a second).
bool isTerminal(std::FILE *stream);
