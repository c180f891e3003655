// SPDX-License-Identifier: GPL-3.0-or-later
#include "isterminal.h"

#include <io.h>

bool isTerminal(std::FILE *stream) {
    return _isatty(_fileno(stream)) != 0;
}
