// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include <cmath>

namespace {

constexpr int kFieldCount = 10;
// The walk stops when an eleventh token would start; "EOC" guarantees the last real token ends.
constexpr int kStopAtField = 11;

QString conversionProblem(const QString &field, const QString &token, const char *expected,
                          const QString &kept) {
    return QStringLiteral("Command line: %1 token \"%2\" is not %3; %1 stays %4")
        .arg(field, token, QLatin1String(expected), kept);
}

// kept: what the operator sees of the field when its token is refused.
void storeBoolean(bool &target, const char *field, const QString &token, const QString &kept,
                  QStringList &problems) {
    bool ok = false;
    const bool value = toBoolean(token, &ok);
    if (ok)
        target = value;
    else
        problems << conversionProblem(QLatin1String(field), token, "True, False or a number", kept);
}

void storeField(StartupArgs &args, int field, const QString &token, QStringList &problems) {
    switch (field) {
    case 1:
        args.Type4Port = token;
        break;
    case 2:
        args.Type4Address = token;
        break;
    case 3:
        storeBoolean(args.Type4Enable, "Type4Enable", token, QStringLiteral("False"), problems);
        break;
    case 4:
        args.Type5Port = token;
        break;
    case 5:
        args.Type5Address = token;
        break;
    case 6:
        storeBoolean(args.Type5Enable, "Type5Enable", token, QStringLiteral("False"), problems);
        break;
    case 7: {
        bool ok = false;
        const qint32 value = toInteger(token, &ok);
        if (ok)
            args.Period = value;
        else
            // A Period of 0 leaves the window's default in the Period box.
            problems << conversionProblem(QStringLiteral("Period"), token, "a whole number",
                                          QString::number(kDefaultPeriodSeconds));
        break;
    }
    case 8:
        args.TitlePrefix = token;
        break;
    case 9:
        // False leaves the Unlimited box as it was designed: ticked.
        storeBoolean(args.Unlimited, "Unlimited", token,
                     QStringLiteral("False and its box stays ticked"), problems);
        break;
    case 10:
        args.DataFile = QStringLiteral(".\\") + token;
        break;
    default:
        break;
    }
}

} // namespace

bool toBoolean(const QString &token, bool *ok) {
    *ok = true;
    if (token.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (token.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    // Spelled-out infinities and not-a-number ("inf", "nan") are no number here.
    const double number = token.toDouble(ok);
    *ok = *ok && std::isfinite(number);
    return *ok && number != 0.0;
}

qint32 toInteger(const QString &token, bool *ok) {
    return token.toInt(ok, 10);
}

ParsedCommandLine ParseCommandLine(const QString &commandLine) {
    ParsedCommandLine parsed;
    const QString text = commandLine + QLatin1String(" EOC");
    int field = 0;
    bool inToken = false;
    QString token;
    for (const QChar ch : text) {
        const bool separator = ch == QLatin1Char(' ') || ch == QLatin1Char('\t');
        if (!separator) {
            if (!inToken) {
                if (field == kStopAtField)
                    break;
                ++field;
                inToken = true;
            }
            token.append(ch);
            continue;
        }
        if (inToken) {
            if (field <= kFieldCount)
                storeField(parsed.args, field, token, parsed.problems);
            inToken = false;
            token.clear();
        }
    }
    return parsed;
}
