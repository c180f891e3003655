// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Lists of text as the tests spell them: C strings in UTF-8.

#include <QList>
#include <QRegularExpression>
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

// The patterns that no line of the text matches.
inline QStringList unmatched(const QString &text, const QStringList &patterns) {
    QStringList missing;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &pattern : patterns)
        if (lines.filter(QRegularExpression(pattern)).isEmpty())
            missing << pattern;
    return missing;
}
