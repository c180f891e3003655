// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadrecords.h"

#include "amllayout.h"
#include "ipnddatafile.h"
#include "textlinereader.h"
#include "type4frame.h"
#include "xmllinestore.h"

#include <algorithm>

namespace {

// Frames built ahead at most (each a few hundred bytes).
constexpr qsizetype kMostFramesKept = 4096;

// Why the reader refused a line, from the log line it wrote ("SRLP: Not
// standard packet --> LINE" gives "not standard packet"); lines it refuses
// without a word are told by what is left.
QString refusalReason(const QString &logLine) {
    QString reason = logLine;
    for (const QLatin1String prefix :
         {QLatin1String("SRLP: "), QLatin1String("Unable to send packet. ")}) {
        if (reason.startsWith(prefix))
            reason.remove(0, prefix.size());
    }
    const qsizetype quoted = reason.indexOf(QLatin1String(" --> "));
    if (quoted >= 0)
        reason.truncate(quoted);
    // One reason for every over-long line, whatever its length.
    if (reason.startsWith(QLatin1String("Line of ")))
        return QStringLiteral("line longer than %1 characters").arg(TextLineReader::kMaxLineBytes);
    if (reason.isEmpty())
        return QStringLiteral("second or third tab not within %1 characters")
            .arg(IpndDataFile::kTabReachChars);
    reason[0] = reason[0].toLower();
    return reason;
}

} // namespace

// Every sendable record of the file, framed, in file order; the lines
// refused counted by reason.
void LoadRecords::readDataFile(const QString &name) {
    QString said; // the reader's log line for the line just read
    IpndDataFile file([&said](const QString &line) { said = line; }, [](const QString &) {});
    file.OpenDataFile(name);
    while (file.isOpen()) {
        said.clear();
        const bool read = file.ReadRawLogRecord();
        if (file.endOfInput())
            break;
        ++m_fileLines;
        QString reason;
        if (!read)
            reason = refusalReason(said);
        else if (!IpndDataFile::isSendable(file.gDataRecord))
            reason = QStringLiteral("body shorter than %1 characters")
                         .arg(IpndDataFile::kMinSendableBodyChars);
        if (reason.isEmpty()) {
            m_fileFrames << frameFileRecord(file.gDataRecord);
            continue;
        }
        const auto known = std::find_if(m_refused.begin(), m_refused.end(),
                                        [&reason](const auto &r) { return r.reason == reason; });
        if (known == m_refused.end())
            m_refused.append({reason, 1});
        else
            ++known->count;
    }
    file.close();
}

QString LoadRecords::refusalText() const {
    qint64 refused = 0;
    QStringList reasons;
    for (const RefusedLines &r : m_refused) {
        refused += r.count;
        reasons << QStringLiteral("%1 %2").arg(r.count).arg(r.reason);
    }
    if (refused == 0)
        return {};
    return QStringLiteral("%1 of its %2 line%3 refused, never sent: %4")
        .arg(refused)
        .arg(m_fileLines)
        .arg(m_fileLines == 1 ? QString() : QStringLiteral("s"))
        .arg(reasons.join(QStringLiteral(", ")));
}

bool LoadRecords::prepare(const LoadOptions &options, QString *error) {
    const std::array<QByteArray, kMoliRecordSlots> moli = cannedMoliRecords();
    m_moliTicked = options.moliShape.has_value();
    for (const CannedRecord record : options.records)
        m_cannedRecords << cannedRecordWithMoli(record, options.moliShape, moli);
    m_termIds = options.termIds;
    // Each record with each terminal ID framed once, unless that is a great many.
    if (m_cannedRecords.size() * m_termIds.size() <= kMostFramesKept) {
        for (const QByteArray &record : std::as_const(m_cannedRecords))
            for (const QByteArray &termId : std::as_const(m_termIds))
                m_cannedFrames << frameCannedRecord(termId, record, m_moliTicked);
    }
    for (const QString &name : {options.dataFile, options.xmlFile}) {
        if (name.isEmpty())
            continue;
        *error = TextLineReader::whyUnreadable(name);
        if (!error->isEmpty())
            return false;
    }
    if (!options.dataFile.isEmpty()) {
        readDataFile(options.dataFile);
        if (m_fileFrames.isEmpty()) {
            const QString refused = refusalText();
            *error = QStringLiteral("%1: no record to send%2")
                         .arg(options.dataFile,
                              refused.isEmpty() ? QString() : QStringLiteral(": ") + refused);
            return false;
        }
    }
    if (options.xmlFile.isEmpty()) {
        m_document = cannedAmlDocument();
    } else {
        XmlLineStore store;
        store.OpenXMLFile(options.xmlFile);
        m_document = nextType5Packet({}, store);
        if (store.gXmlLineCount == 0) {
            *error = QStringLiteral("%1: no line to send").arg(options.xmlFile);
            return false;
        }
    }
    return true;
}

QByteArray LoadRecords::nextType4Frame() {
    const bool useFile = m_cannedRecords.isEmpty() || (!m_fileFrames.isEmpty() && m_fileTurn);
    m_fileTurn = !m_fileTurn;
    if (!useFile)
        return nextCannedFrame();
    const QByteArray &frame = m_fileFrames.at(m_nextFile);
    m_nextFile = (m_nextFile + 1) % m_fileFrames.size();
    return frame;
}

QByteArray LoadRecords::nextCannedFrame() {
    const qsizetype canned = m_nextCanned;
    const qsizetype termId = m_nextTermId;
    m_nextCanned = (m_nextCanned + 1) % m_cannedRecords.size();
    m_nextTermId = (m_nextTermId + 1) % m_termIds.size();
    if (!m_cannedFrames.isEmpty())
        return m_cannedFrames.at(canned * m_termIds.size() + termId);
    return frameCannedRecord(m_termIds.at(termId), m_cannedRecords.at(canned), m_moliTicked);
}
