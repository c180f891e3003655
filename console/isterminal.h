// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>

// True when the stream is a terminal (the status line is then redrawn in
// place rather than printed a line a second).
bool isTerminal(std::FILE *stream);

// The width in columns of the terminal the stream writes to, as the system
// has it now; 0 when it cannot tell (not a terminal, or no answer).
int terminalColumns(std::FILE *stream);
