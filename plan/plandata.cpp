// SPDX-License-Identifier: GPL-3.0-or-later
#include "plandata.h"

#include "plantext.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

QString fieldCount(qsizetype count) {
    return count == 1 ? QStringLiteral("1 field") : QStringLiteral("%1 fields").arg(count);
}

// Splits a data file's bytes into records of fields, counting lines as it goes.
class CsvParser {
public:
    CsvParser(const QByteArray &bytes, const QString &name)
        : m_bytes(bytes)
        , m_name(name) {}

    enum class Result { Record, End, Error };

    // The next record that is not an empty line.
    Result next(QStringList *fields) {
        while (!atEnd() && isLineEnd(peek()))
            skipLineEnd();
        if (atEnd())
            return Result::End;
        m_recordLine = m_line;
        fields->clear();
        while (true) {
            if (++m_fieldsRead > kMaxCsvFields)
                return fail(
                    m_line,
                    QStringLiteral("more than %1 fields; split the file").arg(kMaxCsvFields));
            const std::optional<QByteArray> field =
                peek() == '"' ? quoted(fields->size() + 1) : unquoted(fields->size() + 1);
            if (!field)
                return Result::Error;
            fields->append(QString::fromLatin1(*field));
            if (atEnd())
                return Result::Record;
            if (peek() != ',') {
                skipLineEnd();
                return Result::Record;
            }
            ++m_pos;
        }
    }

    qint64 recordLine() const { return m_recordLine; }
    QString error() const { return m_error; }

    Result fail(qint64 line, const QString &problem) {
        m_error = oneLine(QStringLiteral("%1:%2: %3").arg(m_name).arg(line).arg(problem));
        return Result::Error;
    }

private:
    bool atEnd() const { return m_pos >= m_bytes.size(); }
    char peek() const { return atEnd() ? '\0' : m_bytes.at(m_pos); }

    // Past CR LF, LF or CR, appending what it passes to *kept when given.
    void skipLineEnd(QByteArray *kept = nullptr) {
        const qsizetype from = m_pos;
        if (peek() == '\r')
            ++m_pos;
        if (peek() == '\n' && (m_pos == from || m_bytes.at(from) == '\r'))
            ++m_pos;
        if (kept)
            kept->append(m_bytes.mid(from, m_pos - from));
        ++m_line;
    }

    std::optional<QByteArray> unquoted(qsizetype number) {
        const qsizetype from = m_pos;
        for (; !atEnd() && peek() != ',' && !isLineEnd(peek()); ++m_pos) {
            if (peek() == '"') {
                fail(m_line, QStringLiteral("a quote inside field %1; put the whole field in "
                                            "quotes and double the quote (\"a \"\"b\"\"\")")
                                 .arg(number));
                return std::nullopt;
            }
        }
        return m_bytes.mid(from, m_pos - from);
    }

    std::optional<QByteArray> quoted(qsizetype number) {
        const qint64 openedOn = m_line;
        QByteArray field;
        ++m_pos;
        while (true) {
            if (atEnd()) {
                fail(openedOn,
                     QStringLiteral("the quote that opens field %1 is never closed").arg(number));
                return std::nullopt;
            }
            const char c = peek();
            if (c == '"' && m_pos + 1 < m_bytes.size() && m_bytes.at(m_pos + 1) == '"') {
                field.append('"');
                m_pos += 2;
            } else if (c == '"') {
                ++m_pos;
                break;
            } else if (isLineEnd(c)) {
                skipLineEnd(&field);
            } else {
                field.append(c);
                ++m_pos;
            }
        }
        if (!atEnd() && peek() != ',' && !isLineEnd(peek())) {
            fail(m_line, QStringLiteral("text after the closing quote of field %1").arg(number));
            return std::nullopt;
        }
        return field;
    }

    const QByteArray &m_bytes;
    const QString m_name;
    qsizetype m_pos = 0;
    qint64 m_line = 1;
    qint64 m_recordLine = 1;
    qint64 m_fieldsRead = 0;
    QString m_error;
};

// The number of the first line longer than kMaxCsvLineBytes, or 0.
qint64 firstOverlongLine(const QByteArray &bytes) {
    qint64 line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        const bool end = i == bytes.size() || isLineEnd(bytes.at(i));
        if (!end)
            continue;
        if (i - lineStart > kMaxCsvLineBytes)
            return line;
        if (i < bytes.size() && bytes.at(i) == '\r' && i + 1 < bytes.size() &&
            bytes.at(i + 1) == '\n')
            ++i;
        ++line;
        lineStart = i + 1;
    }
    return 0;
}

bool readHeader(CsvParser &parser, const QString &path, QStringList *columns, QString *error) {
    switch (parser.next(columns)) {
    case CsvParser::Result::Error:
        *error = parser.error();
        return false;
    case CsvParser::Result::End:
        *error = QStringLiteral("%1: empty; the first line names the columns").arg(path);
        return false;
    case CsvParser::Result::Record:
        break;
    }
    QSet<QString> seen;
    for (qsizetype i = 0; i < columns->size(); ++i) {
        QString &name = (*columns)[i];
        name = name.trimmed();
        const QString problem = name.isEmpty() ? QStringLiteral("column %1 has no name").arg(i + 1)
                                : seen.contains(name)
                                    ? QStringLiteral("two columns are named \"%1\"").arg(name)
                                    : QString();
        if (!problem.isEmpty()) {
            parser.fail(parser.recordLine(), problem);
            *error = parser.error();
            return false;
        }
        seen.insert(name);
    }
    return true;
}

std::optional<QByteArray> readWhole(const QString &path, QString *error) {
    const QString reason = whyFileUnreadable(path);
    if (!reason.isEmpty()) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, reason);
        return std::nullopt;
    }
    QFile file(path);
    const auto tooBig = [&] {
        *error = QStringLiteral("%1: larger than the %2 MiB a data file may be")
                     .arg(path)
                     .arg(kMaxCsvFileBytes / (1024 * 1024));
        return std::nullopt;
    };
    if (file.size() > kMaxCsvFileBytes)
        return tooBig();
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    // The size again as read: the file may have grown since.
    QByteArray bytes = file.read(kMaxCsvFileBytes + 1);
    if (bytes.size() > kMaxCsvFileBytes)
        return tooBig();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    return bytes;
}

} // namespace

QString whyFileUnreadable(const QString &path) {
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("it is a folder");
    if (info.exists() && !info.isFile())
        return QStringLiteral("not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    return {};
}

bool readCsvData(const QString &path, QStringList *columns, QList<QStringList> *rows,
                 QString *error) {
    QString problem;
    columns->clear();
    rows->clear();
    const auto failed = [&] {
        columns->clear();
        rows->clear();
        if (error)
            *error = oneLine(problem);
        return false;
    };
    const std::optional<QByteArray> bytes = readWhole(path, &problem);
    if (!bytes)
        return failed();
    if (const qint64 line = firstOverlongLine(*bytes)) {
        problem = QStringLiteral("%1:%2: a line longer than %3 MiB")
                      .arg(path)
                      .arg(line)
                      .arg(kMaxCsvLineBytes / (1024 * 1024));
        return failed();
    }
    CsvParser parser(*bytes, path);
    if (!readHeader(parser, path, columns, &problem))
        return failed();
    QStringList fields;
    while (true) {
        switch (parser.next(&fields)) {
        case CsvParser::Result::End:
            return true;
        case CsvParser::Result::Error:
            problem = parser.error();
            return failed();
        case CsvParser::Result::Record:
            break;
        }
        if (fields.size() != columns->size()) {
            parser.fail(parser.recordLine(), QStringLiteral("%1, the header has %2")
                                                 .arg(fieldCount(fields.size()))
                                                 .arg(columns->size()));
            problem = parser.error();
            return failed();
        }
        rows->append(fields);
    }
}
