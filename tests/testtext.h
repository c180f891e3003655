// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Lists of text as the tests spell them: C strings in UTF-8.

#include <QList>
#include <QStringList>

inline QStringList texts(const QList<const char *> &list) {
    QStringList all;
    for (const char *text : list)
        all << QString::fromUtf8(text);
    return all;
}

// The words of a line, split at spaces.
inline QStringList words(const char *line) {
    return QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}
