// SPDX-License-Identifier: GPL-3.0-or-later
#include "isterminal.h"

#include <io.h>
#include <windows.h>

bool isTerminal(std::FILE *stream) {
    return _isatty(_fileno(stream)) != 0;
}

// The visible window of the console, not its buffer, which is often far wider.
int terminalColumns(std::FILE *stream) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}
