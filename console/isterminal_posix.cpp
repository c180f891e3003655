// SPDX-License-Identifier: GPL-3.0-or-later
#include "isterminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool isTerminal(std::FILE *stream) {
    return isatty(fileno(stream)) == 1;
}

int terminalColumns(std::FILE *stream) {
    struct winsize size = {};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}
