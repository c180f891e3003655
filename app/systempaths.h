// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Paths as the system spells them, one file per platform (systempaths_posix.cpp,
// systempaths_win.cpp).

// The path to open for one the system or the operator wrote with backslashes
// ("c:\talvsys\development.txt", ".\ipnd3.x01"), by the data files' rule
// (TextLineReader::toFileSystemPath): the name as written when it exists, else
// with its backslashes as folder separators. On Windows a drive stays a drive;
// elsewhere a drive letter stays part of a relative name.
QString fileSystemPath(const QString &systemPath);

// A path a file dialog chose, as the operator reads it in a text box.
QString shownPath(const QString &chosenPath);
