// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// A CSV file as RFC 4180 has it: fields quoted when they hold a comma, a
// quote, CR or LF, quotes doubled, rows ended by CR LF. Each row is flushed
// as it is written, so a run that stops keeps every row before it.
class CsvWriter {
public:
    // Creates (or empties) the file and writes the header; false with the
    // system's reason when it cannot.
    bool open(const QString &path, const QStringList &header, QString *error);
    bool isOpen() const { return m_file.isOpen(); }
    void writeRow(const QStringList &fields);

    static QString field(const QString &text);
    static QByteArray row(const QStringList &fields);

private:
    QFile m_file;
};

// "2026-12-06T20:15:07.204+11:00": local time, milliseconds, the offset always.
QString isoTimeWithOffset(const class QDateTime &when);

// At most maxBytes of data, with control bytes and bytes above 0x7e shown as
// <XX> in hex, so a field stays one printable line.
QString printableBytes(const QByteArray &data, qsizetype maxBytes);
