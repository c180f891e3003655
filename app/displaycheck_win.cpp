// SPDX-License-Identifier: GPL-3.0-or-later
#include "displaycheck.h"

// A Windows desktop session always has a display.
QString missingDisplay() {
    return {};
}
