// SPDX-License-Identifier: GPL-3.0-or-later
#include "csvwriter.h"

#include <QDateTime>

bool CsvWriter::open(const QString &path, const QStringList &header, QString *error) {
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = m_file.errorString();
        return false;
    }
    writeRow(header);
    return true;
}

void CsvWriter::writeRow(const QStringList &fields) {
    if (!m_file.isOpen())
        return;
    m_file.write(row(fields));
    m_file.flush();
}

QString CsvWriter::field(const QString &text) {
    static const QString needsQuotes = QStringLiteral(",\"\r\n");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return needsQuotes.contains(c); }))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray CsvWriter::row(const QStringList &fields) {
    QStringList quoted;
    for (const QString &text : fields)
        quoted << field(text);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QString isoTimeWithOffset(const QDateTime &when) {
    const int offsetS = when.offsetFromUtc();
    const int minutes = std::abs(offsetS) / 60;
    return when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QLatin1Char(offsetS < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString printableBytes(const QByteArray &data, qsizetype maxBytes) {
    QString text;
    for (const char byte : data.left(maxBytes)) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value <= 0x7e)
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("<%1>").arg(value, 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}
