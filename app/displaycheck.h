// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Empty when the window can be shown; otherwise why not, in a few words
// ("no DISPLAY or WAYLAND_DISPLAY is set"). Asked before the application object
// is built, because Qt aborts the program when its platform finds no display.
QString missingDisplay();
