// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The period the window starts with when the command line gives none (or 0).
inline constexpr qint16 kDefaultPeriodSeconds = 20;

// The command-line fields, in the order of their tokens.
struct StartupArgs {
    QString Type4Port;
    QString Type4Address;
    bool Type4Enable = false;
    QString Type5Port;
    QString Type5Address;
    bool Type5Enable = false;
    qint32 Period = 0;
    QString TitlePrefix;
    bool Unlimited = false;
    QString DataFile;
};

struct ParsedCommandLine {
    StartupArgs args;
    // One line per token that could not be converted; its field keeps its default.
    QStringList problems;
};

// Walks the command line (without the program name) token by token,
// separated by spaces or tabs, filling at most ten fields.
ParsedCommandLine ParseCommandLine(const QString &commandLine);

// The boolean conversion: True or False in any letter case, or a finite number (zero is false).
bool toBoolean(const QString &token, bool *ok);
// The integer conversion: a decimal number with an optional sign.
qint32 toInteger(const QString &token, bool *ok);
