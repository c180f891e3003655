// SPDX-License-Identifier: GPL-3.0-or-later
#include "systempaths.h"

#include "textlinereader.h"

#include <QDir>

QString fileSystemPath(const QString &systemPath) {
    return TextLineReader::toFileSystemPath(systemPath);
}

QString shownPath(const QString &chosenPath) {
    return QDir::toNativeSeparators(chosenPath);
}
