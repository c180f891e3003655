// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmlrestamp.h"

#include <QString>

namespace {

enum class Stamp { Date, Time, DateTime };

struct RestampRule {
    const char *element;
    Stamp stamp;
};

constexpr RestampRule kRules[] = {
    {"Date_Sent", Stamp::Date},
    {"Time_Sent", Stamp::Time},
    {"AML_Time_of_Positioning_TOP", Stamp::DateTime},
};

QByteArray startTag(const char *element) {
    return '<' + QByteArray(element) + '>';
}

const RestampRule *ruleFor(const QByteArray &line) {
    for (const RestampRule &rule : kRules) {
        if (line.startsWith(startTag(rule.element)))
            return &rule;
    }
    return nullptr;
}

QByteArray stampText(Stamp stamp, const QDateTime &now) {
    // HH: always 00 to 23, whatever the locale.
    switch (stamp) {
    case Stamp::Date:
        return now.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
    case Stamp::Time:
        return now.toString(QStringLiteral("HH:mm:ss")).toLatin1();
    case Stamp::DateTime:
        return restampDateTimeText(now);
    }
    return {};
}

} // namespace

QByteArray restampDateTimeText(const QDateTime &now) {
    return now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
}

bool isRestampedXmlLine(const QByteArray &line) {
    return ruleFor(line) != nullptr;
}

QByteArray restampXmlLine(const QByteArray &line, const QDateTime &now) {
    const RestampRule *rule = ruleFor(line);
    if (!rule)
        return line;
    return startTag(rule->element) + stampText(rule->stamp, now) + "</" + rule->element + '>';
}
