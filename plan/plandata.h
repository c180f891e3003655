// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A test plan's data file: comma-separated values with a header line first.
// Fields may be quoted ("a, b"), a quote within doubled (""); lines end with
// CR LF, LF or CR, and a quoted field may span lines. Each byte is one
// character (Latin-1), so "0800123456" stays text and bytes go out as read. A
// UTF-8 byte-order mark before the header is dropped, spaces around header names
// are trimmed (data fields stay as written), and empty lines are skipped.

constexpr qint64 kMaxCsvFileBytes = 64LL * 1024 * 1024;
constexpr qsizetype kMaxCsvLineBytes = 1024 * 1024;
// Fields are held as strings of their own; a file of one-byte fields would take
// many times its size in memory.
constexpr qint64 kMaxCsvFields = 4'000'000;

// Why the file at path cannot be read ("No such file or directory"), or an
// empty text when it can: a folder, a pipe or a device is refused before opening,
// so that reading never waits for a writer.
QString whyFileUnreadable(const QString &path);

// Reads the file at path into its header's columns and the rows after it, each
// with as many fields as the header. On failure, *error is one line naming path
// as given ("callers.csv:7: 3 fields, the header has 4").
bool readCsvData(const QString &path, QStringList *columns, QList<QStringList> *rows,
                 QString *error);
