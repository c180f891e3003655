// SPDX-License-Identifier: GPL-3.0-or-later
#include "ipnddatafile.h"

#include "numerictext.h"

#include <limits>
#include <utility>

namespace {

// Drops everything up to and including the first tab, when that tab lies
// within the first IpndDataFile::kTabReachChars characters.
bool dropThroughTab(QByteArray &text) {
    const qsizetype tab = text.left(IpndDataFile::kTabReachChars).indexOf('\t');
    if (tab < 0)
        return false;
    text.remove(0, tab + 1);
    return true;
}

// Digits as a number; an empty text (a short line) counts as 0.
qint16 headerValue(const QByteArray &line, qsizetype from, qsizetype chars, int modulus) {
    return qint16(line.mid(from, chars).toInt() % modulus);
}

} // namespace

IpndDataFile::IpndDataFile(TextSink log, TextSink showFileName)
    : m_log(std::move(log))
    , m_showFileName(std::move(showFileName)) {}

void IpndDataFile::log(const char *message) const {
    m_log(QString::fromLatin1(message));
}

bool IpndDataFile::openFile(const QString &name) {
    if (m_file.open(name))
        return true;
    m_log(QStringLiteral("Unable to open log file, windows reports: ") + m_file.errorString());
    if (m_unreadable)
        m_unreadable();
    return false;
}

void IpndDataFile::OpenDataFile(const QString &name) {
    if (!name.isEmpty())
        gDataFileName = name;
    if (gDataFileName.isEmpty())
        return;
    m_showFileName(gDataFileName);
    if (openFile(gDataFileName))
        m_log(QStringLiteral("Open log file: ") + gDataFileName);
}

bool IpndDataFile::openChosenFile(const QString &chosenName) {
    if (!openFile(chosenName))
        return false;
    m_showFileName(chosenName);
    m_log(QStringLiteral("Open log file: ") + chosenName);
    gDataFileName = chosenName;
    return true;
}

void IpndDataFile::close() {
    m_file.close();
}

void IpndDataFile::rewind() {
    m_log(QStringLiteral("Close log file: ") + gDataFileName);
    m_file.close();
    OpenDataFile(gDataFileName);
}

bool IpndDataFile::readNextLine(QByteArray &line, const char *prefix) {
    m_endOfInput = true;
    if (!m_file.isOpen())
        return false;
    switch (m_file.readLine(line)) {
    case TextLineReader::Result::Line:
        m_endOfInput = false;
        return true;
    case TextLineReader::Result::TooLong:
        m_endOfInput = false;
        m_log(QStringLiteral("%1Unable to send packet. Line of %2 characters is longer than %3")
                  .arg(QLatin1String(prefix))
                  .arg(m_file.lineLength())
                  .arg(TextLineReader::kMaxLineBytes));
        return false;
    case TextLineReader::Result::EndOfFile:
        rewind();
        return false;
    case TextLineReader::Result::Error:
        return false;
    }
    return false;
}

bool IpndDataFile::ReadRawLogRecord() {
    QByteArray line;
    if (!readNextLine(line, "SRLP: "))
        return false;
    QByteArray body = line;
    if (!dropThroughTab(body)) {
        m_log(QStringLiteral("SRLP: Not standard packet --> ") + QString::fromLatin1(line));
        return false;
    }
    if (!dropThroughTab(body) || !dropThroughTab(body))
        return false;
    if (!isNumericText(body.mid(2, 6))) {
        log("SRLP: Unable to send packet. Header is Non Numeric");
        ResetSequence();
        return false;
    }
    gDataRecord = body;
    return true;
}

void IpndDataFile::takeHeader(const QByteArray &line) {
    gSeqTerminalID = headerValue(line, 0, 3, 999);
    gSeqPartTotal = headerValue(line, 3, 2, 99);
    if (gSeqExpectedPart < std::numeric_limits<qint16>::max())
        ++gSeqExpectedPart;
    gSeqPartNumber = headerValue(line, 5, 2, 99);
}

// Steps from the duplicate test to storing the part; false when the line is
// dumped before it is stored.
bool IpndDataFile::storePart(const QByteArray &line) {
    const int part = gSeqPartNumber;
    if (part >= kPartSlots) {
        // A sequence has at most ten parts: nowhere to keep this one.
        log("SFIP: Dumping pkt out of sequence");
        return false;
    }
    if (gSeqPartReceived[part]) {
        log("SFIP: Found duplicate sequence pkt");
        if (part != 1) {
            log("SFIP: Dumping duplicate sequence pkt");
            return false;
        }
        log("SFIP: Found new start sequence pkt");
        for (int p = 1; p <= kMaxParts; ++p) {
            gSeqPartReceived[p] = false;
            gSeqPartTerminal[p] = 0;
        }
        gSeqPartsStored = 0;
        gSeqExpectedPart = 1;
    }
    gSeqPartReceived[part] = true;
    gSeqPartTerminal[part] = gSeqTerminalID;
    gSeqPartText[part] = line.mid(kPartHeaderChars);
    ++gSeqPartsStored;
    return true;
}

// All parts are in: check their terminals, then join them.
bool IpndDataFile::finishSequence() {
    const int last = qMin<int>(gSeqPartTotal, kMaxParts);
    bool differs = false;
    for (int p = 1; p <= last; ++p) {
        if (gSeqPartTerminal[p] != gSeqTerminalID) {
            log("SFIP: Found different terminal id in sequence pkt");
            differs = true;
        }
    }
    if (differs) {
        ResetSequence();
        return false;
    }
    gSeqComplete = true;
    log("SFIP: Packet sequence complete");
    QByteArray body;
    for (int p = 1; p <= last && gSeqPartReceived[p]; ++p)
        body += gSeqPartText[p];
    gDataRecord = body;
    ResetSequence();
    return true;
}

bool IpndDataFile::ReadMultiPartRecord() {
    QByteArray line;
    if (!readNextLine(line, "SFIP: ")) {
        // A sequence cannot run on past the end of the file, or over a line
        // refused whole, into what follows.
        ResetSequence();
        return false;
    }
    if (!isNumericText(line.left(kPartHeaderChars))) {
        log("SFIP: Unable to send packet header: Non Numeric");
        ResetSequence();
        return false;
    }
    takeHeader(line);
    if (!storePart(line))
        return false;
    if (gSeqPartNumber != gSeqExpectedPart) {
        log("SFIP: Dumping pkt out of sequence");
        return false;
    }
    if (gSeqPartsStored != gSeqPartTotal) {
        m_log(QStringLiteral("SFIP: Part packet:[%1]").arg(gSeqPartNumber));
        gSeqComplete = false;
        return true;
    }
    return finishSequence();
}

void IpndDataFile::ResetSequence() {
    gSeqPartsStored = 0;
    gSeqPartTotal = 0;
    gSeqTerminalID = 0;
    gSeqExpectedPart = 0;
    for (int p = 1; p <= kMaxParts; ++p) {
        gSeqPartReceived[p] = false;
        gSeqPartTerminal[p] = 0;
    }
}
