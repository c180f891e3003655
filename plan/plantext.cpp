// SPDX-License-Identifier: GPL-3.0-or-later
#include "plantext.h"

#include "commandwords.h"

#include <algorithm>
#include <cmath>

namespace {

const QLatin1String kOpen("{{");
const QLatin1String kClose("}}");
constexpr qsizetype kMaxRandomDigits = 18;

// text without suffix, or nullopt when it does not end with it.
std::optional<QString> withoutSuffix(const QString &text, QLatin1String suffix) {
    if (!text.endsWith(suffix))
        return std::nullopt;
    return text.chopped(suffix.size());
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

QString codePointText(const QString &text, qsizetype at) {
    char32_t code = text.at(at).unicode();
    if (text.at(at).isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate())
        code = QChar::surrogateToUcs4(text.at(at), text.at(at + 1));
    return QString::number(code, 16).toUpper().rightJustified(4, u'0');
}

QString oneLine(const QString &text) {
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            line += QLatin1String("\\n");
        else if (u == u'\r')
            line += QLatin1String("\\r");
        else if (u == u'\t')
            line += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            line += QStringLiteral("\\x%1").arg(
                QString::number(u, 16).toUpper().rightJustified(2, u'0'));
        else
            line += c;
    }
    return line;
}

std::optional<qint64> parseDuration(const QString &text) {
    // "ms" before "s": "500ms" also ends with "s".
    const std::pair<QLatin1String, double> units[] = {{QLatin1String("ms"), 1'000},
                                                      {QLatin1String("s"), 1'000'000}};
    for (const auto &[unit, microseconds] : units) {
        std::optional<QString> number = withoutSuffix(text, unit);
        if (!number)
            continue;
        if (number->endsWith(QLatin1Char(' ')))
            number->chop(1);
        const std::optional<double> value =
            decimalNumber(*number, 0, double(kMaxPlanDurationUs) / microseconds);
        if (!value)
            return std::nullopt;
        return std::min(std::llround(*value * microseconds), kMaxPlanDurationUs);
    }
    return std::nullopt;
}

std::optional<double> parseRate(const QString &text) {
    const std::pair<QLatin1String, double> units[] = {{QLatin1String("/s"), 1},
                                                      {QLatin1String("/min"), 60}};
    for (const auto &[unit, seconds] : units) {
        const std::optional<QString> number = withoutSuffix(text, unit);
        if (!number)
            continue;
        const std::optional<double> value =
            decimalNumber(*number, 0, kMaxPlanRatePerSecond * seconds);
        if (!value || *value / seconds <= 0)
            return std::nullopt;
        return *value / seconds;
    }
    return std::nullopt;
}

std::optional<QByteArray> decodeRawText(const QString &text, QString *error) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() > 0xff) {
            if (error)
                *error =
                    QStringLiteral("character %1 (U+%2) is not a byte; write it as \\xHH bytes")
                        .arg(i + 1)
                        .arg(codePointText(text, i));
            return std::nullopt;
        }
        if (c != QLatin1Char('\\')) {
            bytes.append(char(c.unicode()));
            continue;
        }
        const QString rest = text.mid(i + 1, 3);
        if (rest.startsWith(QLatin1Char('\\'))) {
            bytes.append('\\');
            i += 1;
            continue;
        }
        if (rest.size() == 3 && rest.at(0) == QLatin1Char('x') && hexDigit(rest.at(1)) >= 0 &&
            hexDigit(rest.at(2)) >= 0) {
            bytes.append(char(hexDigit(rest.at(1)) * 16 + hexDigit(rest.at(2))));
            i += 3;
            continue;
        }
        if (error)
            *error = QStringLiteral("\"\\%1\" at character %2 is not an escape: \\xHH (two hex "
                                    "digits) is a byte, \\\\ a backslash")
                         .arg(oneLine(rest.left(1)))
                         .arg(i + 1);
        return std::nullopt;
    }
    return bytes;
}

std::optional<QList<TemplateRef>> templateRefs(const QString &text, QString *error) {
    QList<TemplateRef> refs;
    const auto fail = [error](const QString &problem) {
        if (error)
            *error = problem;
        return std::nullopt;
    };
    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf(kOpen, from);
        if (open < 0)
            return refs;
        const qsizetype close = text.indexOf(kClose, open + kOpen.size());
        if (close < 0)
            return fail(
                QStringLiteral("\"{{\" at character %1 is not closed with \"}}\"").arg(open + 1));
        const QString name = text.mid(open + kOpen.size(), close - open - kOpen.size()).trimmed();
        if (name.isEmpty())
            return fail(QStringLiteral("\"{{}}\" at character %1 names nothing").arg(open + 1));
        if (name.contains(QLatin1Char('{')) || name.contains(QLatin1Char('}')))
            return fail(QStringLiteral("\"{{%1}}\" at character %2: a name holds no braces")
                            .arg(name)
                            .arg(open + 1));
        refs.append({name, open});
        from = close + kClose.size();
    }
}

QString expandTemplate(const QString &text,
                       const std::function<std::optional<QString>(const QString &name)> &lookUp) {
    QString expanded;
    expanded.reserve(text.size());
    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf(kOpen, from);
        const qsizetype close = open < 0 ? -1 : text.indexOf(kClose, open + kOpen.size());
        if (close < 0)
            break;
        const qsizetype end = close + kClose.size();
        const QString name = text.mid(open + kOpen.size(), close - open - kOpen.size()).trimmed();
        const std::optional<QString> value = name.isEmpty() ? std::nullopt : lookUp(name);
        expanded += QStringView(text).mid(from, open - from);
        expanded += value ? *value : text.mid(open, end - open);
        from = end;
    }
    expanded += QStringView(text).mid(from);
    return expanded;
}

std::optional<std::pair<qint64, qint64>> randomRange(const QString &name) {
    const QLatin1String prefix("random:");
    if (!name.startsWith(prefix))
        return std::nullopt;
    const QString range = name.mid(prefix.size());
    const qsizetype dash = range.indexOf(QLatin1Char('-'));
    if (dash < 0)
        return std::nullopt;
    const QString lowText = range.left(dash);
    const QString highText = range.mid(dash + 1);
    if (lowText.size() > kMaxRandomDigits || highText.size() > kMaxRandomDigits)
        return std::nullopt;
    constexpr qint64 kLargest = 999'999'999'999'999'999;
    const std::optional<qint64> low = wholeNumber(lowText, 0, kLargest);
    const std::optional<qint64> high = wholeNumber(highText, 0, kLargest);
    if (!low || !high || *low > *high)
        return std::nullopt;
    return std::pair{*low, *high};
}

bool isBuiltInName(const QString &name) {
    return name == QLatin1String("seq") || name == QLatin1String("now") ||
           randomRange(name).has_value();
}
