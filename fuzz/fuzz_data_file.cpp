// SPDX-License-Identifier: GPL-3.0-or-later
// The IPND data file over a file of fuzzed bytes. The first byte picks the
// reader: the RAWLOG reader, the MULTIPKT reader driven as the packet
// cycle drives it, or the text line reader alone, whose lines are compared
// with a plain split of the same bytes.
#include "fuzzsupport.h"
#include "ipnddatafile.h"
#include "textlinereader.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

// Made before the exit handler is registered, so that it outlives it.
QString g_scratchPath;

const QString &scratchPath() {
    return g_scratchPath;
}

void removeScratch() {
    QFile::remove(scratchPath());
}

void writeScratch(const QByteArray &bytes) {
    FILE *file = std::fopen(QFile::encodeName(scratchPath()).constData(), "wb");
    require(file != nullptr, "the scratch file can be written");
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file);
    std::fclose(file);
}

// The lines as the reader promises them: CR, LF or CR LF end a line; the
// last line may lack one.
QList<QByteArray> plainLines(const QByteArray &bytes) {
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        lines << line;
        line.clear();
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

void readLines(const QByteArray &bytes) {
    TextLineReader reader;
    require(reader.open(scratchPath()), "the scratch file opens");
    QList<QByteArray> lines;
    QByteArray line;
    while (reader.readLine(line) == TextLineReader::Result::Line) {
        lines << line;
        require(lines.size() <= bytes.size(), "no more lines than bytes");
    }
    require(reader.atEnd(), "the reader stops at the end");
    require(lines == plainLines(bytes), "the lines are the bytes split at CR, LF and CR LF");
}

void readRawLog(IpndDataFile &file, qsizetype lineCount) {
    // Twice through the file, to pass the rewind at its end.
    for (qsizetype i = 0; i < 2 * (lineCount + 1); ++i) {
        if (file.ReadRawLogRecord())
            require(!file.gDataRecord.isEmpty(), "a stored record is not empty");
    }
}

void readMultiPart(IpndDataFile &file, qsizetype lineCount) {
    for (int tick = 0; tick < 3; ++tick) {
        qsizetype reads = 0;
        do {
            file.ReadMultiPartRecord();
            require(++reads <= lineCount + 1, "one tick's loop ends within the file");
            require(file.gSeqPartsStored >= 0 && file.gSeqPartsStored <= IpndDataFile::kPartSlots,
                    "stored parts fit the slots");
        } while (!file.gSeqComplete && !file.endOfInput());
        file.gSeqComplete = false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Memory-backed when there is such a folder: every input is a file.
    const QString folder =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    g_scratchPath = folder + QStringLiteral("/talvgen-fuzz-%1.x01").arg(getpid());
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const QByteArray bytes = bytesOf(data + 1, size - 1);
    writeScratch(bytes);
    const int mode = data[0] % 3;
    if (mode == 2) {
        readLines(bytes);
        return 0;
    }
    int logLines = 0;
    IpndDataFile file([&logLines](const QString &) { ++logLines; }, [](const QString &) {});
    file.OpenDataFile(scratchPath());
    require(file.isOpen(), "the scratch file opens");
    const qsizetype lineCount = plainLines(bytes).size();
    if (mode == 0)
        readRawLog(file, lineCount);
    else
        readMultiPart(file, lineCount);
    return 0;
}
