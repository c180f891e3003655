// SPDX-License-Identifier: GPL-3.0-or-later
#include "textlinereader.h"

#include <QFileInfo>

namespace {
constexpr qint64 kChunkBytes = 64 * 1024;
}

QString TextLineReader::toFileSystemPath(const QString &operatorPath) {
    // A name as written that exists ("back\slash.x01" on Linux) is that file.
    if (!operatorPath.contains(QLatin1Char('\\')) || QFileInfo::exists(operatorPath))
        return operatorPath;
    QString path = operatorPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

QString TextLineReader::whyUnreadable(const QString &operatorPath) {
    const QString path = toFileSystemPath(operatorPath);
    if (QFileInfo(path).isDir())
        return QStringLiteral("%1: is a folder, not a file").arg(operatorPath);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(operatorPath, file.errorString());
    return {};
}

bool TextLineReader::open(const QString &operatorPath) {
    close();
    m_error.clear();
    m_file.setFileName(toFileSystemPath(operatorPath));
    // Opening a FIFO or a device would wait for a writer: refuse it first.
    const QFileInfo info(m_file.fileName());
    if (info.exists() && !info.isFile()) {
        m_error =
            info.isDir() ? QStringLiteral("Is a directory") : QStringLiteral("Not a regular file");
        return false;
    }
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    if (m_file.isSequential() || QFileInfo(m_file).isDir()) {
        m_error = QStringLiteral("Not a regular file");
        m_file.close();
        return false;
    }
    return true;
}

void TextLineReader::close() {
    if (m_file.isOpen())
        m_file.close();
    m_buffer.clear();
    m_pos = 0;
    m_lineNumber = 0;
}

bool TextLineReader::fill() {
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    const QByteArray chunk = m_file.read(kChunkBytes);
    if (chunk.isEmpty()) {
        if (m_file.error() != QFileDevice::NoError)
            m_error = m_file.errorString();
        return false;
    }
    m_buffer.append(chunk);
    return true;
}

bool TextLineReader::atEnd() {
    if (!m_file.isOpen())
        return true;
    return m_pos >= m_buffer.size() && !fill();
}

TextLineReader::Result TextLineReader::readLine(QByteArray &line) {
    line.clear();
    m_lineLength = 0;
    if (!m_file.isOpen())
        return Result::Error;
    if (atEnd())
        return m_file.error() == QFileDevice::NoError ? Result::EndOfFile : Result::Error;

    ++m_lineNumber;
    for (;;) {
        qsizetype end = m_pos;
        const qsizetype size = m_buffer.size();
        const char *data = m_buffer.constData();
        while (end < size && data[end] != '\r' && data[end] != '\n')
            ++end;
        m_lineLength += end - m_pos;
        if (m_lineLength <= kMaxLineBytes)
            line.append(data + m_pos, end - m_pos);
        else
            line.clear(); // what is skipped is not held
        m_pos = end;
        const Result read = m_lineLength <= kMaxLineBytes ? Result::Line : Result::TooLong;
        if (end < size) {
            const char terminator = data[end];
            ++m_pos;
            if (terminator == '\r' && (m_pos < m_buffer.size() || fill()) &&
                m_buffer.at(m_pos) == '\n')
                ++m_pos;
            return read;
        }
        if (!fill())
            return read; // last line without a terminator
    }
}
