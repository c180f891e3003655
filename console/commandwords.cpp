// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandwords.h"

std::optional<qint64> wholeNumber(const QString &text, qint64 low, qint64 high) {
    for (const QChar c : text) {
        if (!c.isDigit() || c.unicode() > 0x7f)
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<double> decimalNumber(const QString &text, double low, double high) {
    qsizetype digits = 0;
    qsizetype points = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('.'))
            ++points;
        else if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            ++digits;
        else
            return std::nullopt;
    }
    if (digits == 0 || points > 1)
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<Endpoint> parseEndpoint(const QString &text) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return std::nullopt;
    if (host.isEmpty() || host.contains(QLatin1Char(' ')) || host.contains(QLatin1Char('\t')))
        return std::nullopt;
    const std::optional<qint64> port = wholeNumber(text.mid(colon + 1), 1, 65535);
    if (!port)
        return std::nullopt;
    return Endpoint{host, static_cast<quint16>(*port)};
}
