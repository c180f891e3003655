// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadrecords.h"

#include "amllayout.h"
#include "ipnddatafile.h"
#include "textlinereader.h"
#include "type4frame.h"
#include "xmllinestore.h"

namespace {

// Frames built ahead at most (each a few hundred bytes).
constexpr qsizetype kMostFramesKept = 4096;

// Every sendable record of the file, framed, in file order.
QList<QByteArray> fileFrames(const QString &name) {
    const auto ignore = [](const QString &) {
    };
    IpndDataFile file(ignore, ignore);
    file.OpenDataFile(name);
    QList<QByteArray> frames;
    while (file.isOpen()) {
        if (file.ReadRawLogRecord() && IpndDataFile::isSendable(file.gDataRecord))
            frames << frameFileRecord(file.gDataRecord);
        if (file.endOfInput())
            break;
    }
    file.close();
    return frames;
}

} // namespace

bool LoadRecords::prepare(const LoadOptions &options, QString *error) {
    const std::array<QByteArray, kMoliRecordSlots> moli = cannedMoliRecords();
    m_moliTicked = options.moliShape.has_value();
    for (const CannedRecord record : options.records) {
        QByteArray text = cannedIpndRecord(record);
        // The Max button adds the record with every field filled.
        if (m_moliTicked)
            text += moli[size_t(record == CannedRecord::Max ? kMoliFull : *options.moliShape)];
        m_cannedRecords << text;
    }
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
        m_fileFrames = fileFrames(options.dataFile);
        if (m_fileFrames.isEmpty()) {
            *error = QStringLiteral("%1: no record to send").arg(options.dataFile);
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
