// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "textlinereader.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>

// The IPND data file (file number 1) and its two line readers.
//
// "RAWLOG" lines: three tab-separated leading fields, then the packet body.
// "MULTIPKT" lines: a seven-digit part header (terminal ID, number of parts,
// part number), then the part text; a body may be split over up to ten
// lines, which are joined once all parts are in.
//
// Both readers read the next line from where the previous call stopped. At
// the end of the file they close it and open it again from its first line,
// so the next call reads the first line. A line longer than
// TextLineReader::kMaxLineBytes is refused whole, never sent cut short.
// Every refusal is a log line; no
// read ever blocks, throws or loops without reading.
class IpndDataFile {
public:
    using TextSink = std::function<void(const QString &)>;

    // SendFileRecord sends nothing for a body shorter than this.
    static constexpr int kMinSendableBodyChars = 11;
    // Each leading tab must stand within this many characters.
    static constexpr int kTabReachChars = 100;
    static constexpr int kPartHeaderChars = 7;
    static constexpr int kMaxParts = 10;
    // Part numbers index 0 to 10; 0 is a real slot that clearing never reaches.
    static constexpr int kPartSlots = kMaxParts + 1;

    // log receives each log line; showFileName what lbIPNDfile shows.
    IpndDataFile(TextSink log, TextSink showFileName);
    // Called after the line that says a file could not be opened or read.
    void setUnreadableHandler(std::function<void()> handler) { m_unreadable = std::move(handler); }

    // Opens the file by name, or reopens gDataFileName when name is empty;
    // does nothing when both are empty. A file still open is closed first.
    void OpenDataFile(const QString &name);
    // The file the operator chose in the dialog: opens it, shows it and makes
    // it gDataFileName. On failure gDataFileName and the display keep what
    // they had and no file is open.
    bool openChosenFile(const QString &chosenName);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    // The line of the file the last record came from (its last line for a
    // multi-part record), 1 for the first.
    qint64 lineNumber() const { return m_file.lineNumber(); }

    // True when a body was stored in gDataRecord.
    bool ReadRawLogRecord();
    // True when a part was accepted; gSeqComplete then says whether the
    // sequence is complete and gDataRecord holds the joined body. A part
    // number from 11 to 98 has no slot and is dumped as out of sequence. At
    // the end of the file the sequence state is cleared, since a sequence
    // cannot run on into the first lines of the file.
    bool ReadMultiPartRecord();
    // Clears the sequence state of parts 1 to 10 (not part 0, the texts,
    // gSeqComplete or gDataRecord).
    void ResetSequence();

    // True when the last read found the end of the file (and started it
    // again), no file open, or a read error. The multi-part loop of one tick
    // runs while !gSeqComplete && !endOfInput(), so it always ends.
    bool endOfInput() const { return m_endOfInput; }

    static bool isSendable(const QByteArray &body) { return body.size() >= kMinSendableBodyChars; }

    // The system's shared variables, under their own names.
    QString gDataFileName;
    QByteArray gDataRecord;
    bool gSeqComplete = false;
    qint16 gSeqTerminalID = 0;
    qint16 gSeqPartTotal = 0;
    qint16 gSeqPartNumber = 0;
    qint16 gSeqPartsStored = 0;
    // Lines read since the last clear; stops at 32767 rather than wrapping
    // round to a part number that could match by accident.
    qint16 gSeqExpectedPart = 0;
    std::array<bool, kPartSlots> gSeqPartReceived{};
    std::array<qint16, kPartSlots> gSeqPartTerminal{};
    std::array<QByteArray, kPartSlots> gSeqPartText;

private:
    bool openFile(const QString &name);
    // The next line, or false at the end of the file (then rewound), with
    // no file open, on a read error, or for a line too long to send whole,
    // which is logged after the reader's prefix ("SRLP: ", "SFIP: ").
    bool readNextLine(QByteArray &line, const char *prefix);
    void rewind();
    void takeHeader(const QByteArray &line);
    bool storePart(const QByteArray &line);
    bool finishSequence();
    void log(const char *message) const;

    TextSink m_log;
    TextSink m_showFileName;
    std::function<void()> m_unreadable;
    TextLineReader m_file;
    bool m_endOfInput = false;
};
