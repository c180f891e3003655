// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Reads a text file line by line as bytes, one byte per character.
// A line ends at CR, LF or CR LF; the terminator is not part of the line.
// The last line may end without a terminator. A line longer than
// kMaxLineBytes is not given: it is skipped to its end and reported as
// TooLong with its length, so a binary file or a runaway line cannot make us
// hold more than that, and no line goes on cut short.
class TextLineReader {
public:
    static constexpr qsizetype kMaxLineBytes = 8 * 1024 * 1024;

    enum class Result { Line, TooLong, EndOfFile, Error };

    // Operator paths use a backslash as the folder separator (".\ipnd3.x01"), but only
    // where the name as written does not exist: a file may have one in its name.
    static QString toFileSystemPath(const QString &operatorPath);
    // Why a file named as the operator wrote it cannot be read ("NAME: reason"), or
    // an empty text when it can.
    static QString whyUnreadable(const QString &operatorPath);

    bool open(const QString &operatorPath);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    // The system's description of the last failure.
    QString errorString() const { return m_error; }

    Result readLine(QByteArray &line);
    // The number of the line readLine gave last, 1 for the first; 0 before it.
    qint64 lineNumber() const { return m_lineNumber; }
    // The length in bytes of that line, whole even when it was TooLong.
    qint64 lineLength() const { return m_lineLength; }
    // True once every line has been read.
    bool atEnd();

private:
    bool fill();

    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qint64 m_lineNumber = 0;
    qint64 m_lineLength = 0;
    QString m_error;
};
