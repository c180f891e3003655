// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

// The test plan's own rules for the values written in it: durations, rates, raw
// bytes and {{name}} templates. Numbers follow decimalNumber (commandwords.h):
// plain decimals, no sign, no exponent.

// The longest duration a plan may name.
constexpr qint64 kMaxPlanDurationUs = 24LL * 3600 * 1'000'000;
constexpr double kMaxPlanRatePerSecond = 1'000'000;

// "500 ms", "2 s", "1.5 s", "0 s", or the same without the space ("500ms"), in
// microseconds, rounded; at most 24 hours.
std::optional<qint64> parseDuration(const QString &text);

// "20/s", "1200/min", "0.5/s", per second: more than 0, at most 1,000,000 a second.
std::optional<double> parseRate(const QString &text);

// The bytes a raw step sends. "\xHH" (two hex digits) is that byte, "\\" a
// backslash; any other backslash is an error. Every other character is its own
// byte and must be at most U+00FF.
//
// A YAML double-quoted string decodes its own escapes first ("\x41" arrives here
// as "A", "\\\\" as "\\"), a single-quoted or plain one keeps the backslash
// ('\x41' arrives as "\x41"); both end as the same bytes, since a character up to
// U+00FF is its own byte. A backslash byte in a double-quoted string is thus
// written "\\\\" (or "\\x5C"), in a single-quoted one '\\'.
std::optional<QByteArray> decodeRawText(const QString &text, QString *error);

// The character at text[at] as "U+XXXX" writes it ("00E9", "1F600"), for errors.
QString codePointText(const QString &text, qsizetype at);

// text fit for a one-line message: each control character written as an escape
// ("\n", "\x01"), so that nothing a file holds can break the line.
QString oneLine(const QString &text);

// A {{name}} in a text: its name, spaces trimmed ("{{ term }}" is "term"), and
// where its "{{" stands in the text.
struct TemplateRef {
    QString name;
    qsizetype offset = 0;
    bool operator==(const TemplateRef &) const = default;
};

// Every {{name}} in text, in order. An unclosed "{{", an empty name or a name
// holding a brace is an error.
std::optional<QList<TemplateRef>> templateRefs(const QString &text, QString *error);

// text with each {{name}} replaced by what lookUp gives for it; a name lookUp
// does not know, and an unclosed "{{", stay as written.
QString expandTemplate(const QString &text,
                       const std::function<std::optional<QString>(const QString &name)> &lookUp);

// The names every plan has: "seq", "now" and "random:LOW-HIGH".
bool isBuiltInName(const QString &name);
// LOW and HIGH of "random:LOW-HIGH": digits only, at most 18 each, LOW <= HIGH.
std::optional<std::pair<qint64, qint64>> randomRange(const QString &name);
