// SPDX-License-Identifier: GPL-3.0-or-later
#include "isterminal.h"

#include <unistd.h>

bool isTerminal(std::FILE *stream) {
    return isatty(fileno(stream)) == 1;
}
