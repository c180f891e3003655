// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <utility>

// The values of the command-line programs' options (talvgen-cli, its load mode and
// talvrecv): one rule for each kind of value, whichever program reads it.

struct Endpoint {
    QString host;
    quint16 port = 0;

    bool operator==(const Endpoint &) const = default;
};

// "HOST:PORT" or "[IPv6]:PORT" with a port from 1 to 65535.
std::optional<Endpoint> parseEndpoint(const QString &text);

// Digits only (no sign, no spaces), within low..high.
std::optional<qint64> wholeNumber(const QString &text, qint64 low, qint64 high);

// A plain decimal number within low..high, for seconds, durations, rates and
// milliseconds with a fraction: digits with at most one decimal point ("2", "0.5",
// ".5", "2."). No sign, exponent, spaces, "inf" or "nan".
std::optional<double> decimalNumber(const QString &text, double low, double high);

// The word an option names, out of a fixed table.
template<typename Word, size_t N>
std::optional<Word> lookUp(const std::array<std::pair<const char *, Word>, N> &words,
                           const QString &text) {
    for (const auto &[name, word] : words) {
        if (text == QLatin1String(name))
            return word;
    }
    return std::nullopt;
}

// The table's words as a usage error names them: "a|b|c".
template<typename Word, size_t N>
QString wordList(const std::array<std::pair<const char *, Word>, N> &words) {
    QStringList names;
    for (const auto &entry : words)
        names << QString::fromLatin1(entry.first);
    return names.join(QLatin1Char('|'));
}
