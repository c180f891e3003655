// SPDX-License-Identifier: GPL-3.0-or-later
#include "cannedrecords.h"
#include "ipnddatafile.h"
#include "recordfields.h"
#include "textlinereader.h"
#include "type4frame.h"

#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

using namespace Qt::Literals::StringLiterals;

// Type 4 packets as the wire and the log see them: frames, the checker the
// receiver uses, and the data file read through both readers.
namespace {

using Lines = QList<QByteArray>;

// A data file in a scratch folder, with its log lines and shown names kept.
struct DataFile {
    QTemporaryDir dir;
    QStringList log, shown;
    IpndDataFile file = IpndDataFile([this](const QString &s) { log << s; },
                                     [this](const QString &s) { shown << s; });

    // The lines joined with CR LF, opened as the data file; the log starts empty.
    QString open(const Lines &lines) {
        QFile out(dir.filePath(u"data.x01"_s));
        if (!out.open(QIODevice::WriteOnly) || out.write(lines.join("\r\n")) < 0 || !out.flush())
            qFatal("cannot write test file");
        file.OpenDataFile(out.fileName());
        log.clear();
        return out.fileName();
    }
};

// The multi-part log in short: a digit n is "SFIP: Part packet:[n]", c complete,
// D found duplicate, d dumping duplicate, n new start, o out of sequence,
// t different terminal, x non-numeric header.
QStringList sfipLog(const char *codes) {
    const QStringList words =
        QStringLiteral("Packet sequence complete;Found duplicate sequence pkt;"
                       "Dumping duplicate sequence pkt;Found new start sequence pkt;"
                       "Dumping pkt out of sequence;Found different terminal id in sequence pkt;"
                       "Unable to send packet header: Non Numeric")
            .split(u';');
    QStringList lines;
    for (const char *code = codes; *code; ++code) {
        const qsizetype word = QByteArrayView("cDdnotx").indexOf(*code);
        lines << u"SFIP: "_s + (word < 0 ? u"Part packet:[%1]"_s.arg(*code - '0') : words[word]);
    }
    return lines;
}

// Reads to the end of the file as a tick's loop does: F refused, T part
// taken, C a body to send (kept in sent). Bounded, so a reader that never
// reports the end fails instead of hanging.
QByteArray readAll(IpndDataFile &file, bool multiPart, Lines &sent) {
    QByteArray results;
    for (int reads = 0; reads < 100'000; ++reads) {
        const bool ok = multiPart ? file.ReadMultiPartRecord() : file.ReadRawLogRecord();
        if (file.endOfInput())
            return results;
        const bool complete = ok && (!multiPart || file.gSeqComplete);
        results += !ok ? 'F' : (complete ? 'C' : 'T');
        if (complete)
            sent << file.gDataRecord;
    }
    return results + " without end";
}

} // namespace

class TestType4 : public QObject {
    Q_OBJECT

private slots:
    // The operator's MOLI shape options pick these records by position.
    void moliRecordsInOptionOrder() {
        QByteArray shapes;
        for (const QByteArray &record : cannedMoliRecords())
            shapes += record.split('|').value(2);
        QCOMPARE(shapes, QByteArray("OCAPENX"));
    }

    // Which MOLI record follows a canned record: Max takes the full one whatever the shape.
    void moliAfterCannedRecord_data() {
        QTest::addColumn<CannedRecord>("which");
        QTest::addColumn<std::optional<int>>("shape");
        QTest::addColumn<int>("slot"); // -1: no MOLI record
        QTest::newRow("unticked") << CannedRecord::Standard << std::optional<int>() << -1;
        QTest::newRow("Max unticked") << CannedRecord::Max << std::optional<int>() << -1;
        QTest::newRow("polygon") << CannedRecord::Long << std::optional<int>(kMoliPolygon)
                                 << kMoliPolygon;
        QTest::newRow("Max, polygon")
            << CannedRecord::Max << std::optional<int>(kMoliPolygon) << kMoliFull;
        QTest::newRow("no shape chosen") << CannedRecord::Min << std::optional<int>(-1) << -1;
        QTest::newRow("Max, no shape") << CannedRecord::Max << std::optional<int>(-1) << kMoliFull;
    }

    void moliAfterCannedRecord() {
        QFETCH(CannedRecord, which);
        QFETCH(std::optional<int>, shape);
        QFETCH(int, slot);
        const auto moli = cannedMoliRecords();
        QCOMPARE(cannedRecordWithMoli(which, shape, moli),
                 cannedIpndRecord(which) + (slot < 0 ? QByteArray() : moli[size_t(slot)]));
    }

    void checker_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("reason"); // empty: accepted
        const auto moli = cannedMoliRecords();
        for (const CannedRecord which : kCannedRecords) {
            for (int slot = 0; slot < kMoliRecordSlots; ++slot) // the last slot is empty
                QTest::addRow("canned %d, MOLI %d", int(which), slot)
                    << frameCannedRecord("999", cannedIpndRecord(which) + moli[slot],
                                         !moli[slot].isEmpty())
                    << QString();
        }
        const QByteArray standard = '3' + cannedIpndRecord(CannedRecord::Standard);
        const QByteArray point = '4' + standard.mid(1) + moli[kMoliPoint];
        const auto row = [](const QByteArray &frame, const char *reason) {
            QTest::newRow(reason) << frame << QString::fromLatin1(reason);
        };
        row(frameFileRecord('5' + standard.mid(1)), "type digit \"5\" is not 3 or 4");
        row("99900043A|B",
            "no length of at least 4 digits, type digit and \"|\" after the terminal ID");
        row(frameFileRecord(standard.left(standard.lastIndexOf('|'))),
            "type 3 with 51 fields, expected 52");
        row(frameFileRecord('4' + standard.mid(1)), "type 4 without MOLI record");
        row(frameFileRecord(point.left(point.lastIndexOf('|'))),
            "type 4 with 97 fields, expected 52 IPND and 46 MOLI");
        row(frameFileRecord(QByteArray(standard).replace("Dorsk", QByteArray(41, 'N'))),
            "field 6 Customer_Name_1 is 41 wide, at most 40");
        row(frameFileRecord(
                QByteArray(point).replace("NSW-POL,TUGGERAH-NEWCASTLE", QByteArray(41, 'E'))),
            "MOLI field 46 ESO_Name is 41 wide, at most 40");
        row(frameFileRecord(QByteArray(point).replace("|WGS84|O|", "|WGS84|o|")),
            "MOLI shape \"o\" is not one of O, C, A, P, E, N, X");
        row("9990306" + standard, "length 306, but the body has 307 characters");
        row("99900013|", "length 1 cannot hold a type digit and \"|\"");
        row("999000053|A|B", "length field 00005 has a leading zero beyond four digits");
    }

    void checker() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, reason);
        const Type4Check check = checkType4Frame(frame);
        QCOMPARE(check.reason, reason);
        QCOMPARE(check.ok, reason.isEmpty());
    }

    void unopenableFileKeepsTheOld_data() {
        QTest::addColumn<QString>("chosen");
        QTest::newRow("dialog cancelled") << u".\\*.x01"_s;
        QTest::newRow("FIFO") << u"fifo"_s;
    }

    void unopenableFileKeepsTheOld() {
        QFETCH(QString, chosen);
        DataFile f;
#ifdef Q_OS_WIN
        if (chosen == u"fifo"_s)
            QSKIP("Windows has no FIFOs in its file system");
#else
        const QByteArray fifo = QFile::encodeName(f.dir.filePath(u"fifo"_s));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
#endif
        f.file.gDataFileName = u"before.x01"_s;
        QVERIFY(!f.file.openChosenFile(f.dir.filePath(chosen))); // opening the FIFO would block
        // With no file open the readers report the end and log nothing more.
        QVERIFY(!f.file.ReadRawLogRecord() && !f.file.ReadMultiPartRecord() && f.file.endOfInput());
        QVERIFY(f.file.gDataFileName == u"before.x01"_s && f.shown.isEmpty() && !f.file.isOpen());
        QCOMPARE(f.log.size(), 1);
        QVERIFY(f.log[0].startsWith(u"Unable to open log file, windows reports: "_s));
    }

    // A data file read to its end by either reader: what each call gave, the
    // log and the bodies to send.
    void dataFiles_data() {
        QTest::addColumn<bool>("multiPart");
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<QByteArray>("results");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<Lines>("sent");
        // One line of three leading fields, each tab within 100 characters,
        // then a body whose characters 3 to 8 are digits.
        const auto raw = [](const char *name, const QByteArray &line, const QByteArray &record,
                            const QByteArray &log = {}) {
            QTest::newRow(name) << false << Lines{line} << QByteArray(record.isEmpty() ? "F" : "C")
                                << QString::fromLatin1(log).split(u'\n', Qt::SkipEmptyParts)
                                << (record.isEmpty() ? Lines() : Lines{record});
        };
        const QByteArray a99(99, 'a'), a100(100, 'a');
        const QByteArray notStandard = "SRLP: Not standard packet --> ";
        const QByteArray nonNumeric = "SRLP: Unable to send packet. Header is Non Numeric";
        raw("example", "a\tb\tc\t3|12345678|x", "3|12345678|x");
        raw("tabs inside the body", "\t\t\t3|123456\tz", "3|123456\tz");
        raw("first tab at 100", a99 + "\tb\tc\t3|123456", "3|123456");
        raw("first tab at 101", a100 + "\tb\tc\t3|123456", "",
            notStandard + a100 + "\tb\tc\t3|123456");
        raw("third tab at 101", "a\tb\t" + a100 + "\t3|123456", "");
        raw("letter last in header", "a\tb\tc\t3|12345X|x", "", nonNumeric);
        raw("header then letters", "a\tb\tc\t3|123456XY", "3|123456XY");
        // Seven header digits (terminal, parts, part number), then the text.
        const auto multi = [](const char *name, const Lines &lines, const char *results,
                              const char *log, const Lines &sent) {
            QTest::newRow(name) << true << lines << QByteArray(results) << sfipLog(log) << sent;
        };
        multi("empty file", {}, "", "", {});
        multi("single part", {"99901013|1234567890"}, "C", "c", {"3|1234567890"});
        multi("stuck until a new part 1",
              {"0010301A", "0010302B", "0010302B", "0010303C", "0010302B", "0010301A", "0010302B",
               "0010303C"},
              "TTFFFTTC", "12DdoDdDn12c", {"ABC"});
        multi("different terminals", {"0010301A", "0010302B", "0020303C"}, "TTF", "12tt", {});
        multi("000 and 999 one terminal", {"0000201A", "9990202B"}, "TC", "1c", {"AB"});
        multi("part 00 counts as stored", {"0000200X", "0000202B"}, "FC", "oc", {""});
        multi("non-numeric clears", {"0010301A", "x", "0010201P", "0010202Q"}, "TFTC", "1x1c",
              {"PQ"});
        multi("00 parts never complete", {"0010001A", "0010002B"}, "TT", "12", {});
        multi("ten parts",
              {"0011001a", "0011002b", "0011003c", "0011004d", "0011005e", "0011006f", "0011007g",
               "0011008h", "0011009i", "0011010j"},
              "TTTTTTTTTC", "123456789c", {"abcdefghij"});
        // A line longer than the reader holds is refused whole, never sent cut short.
        const qsizetype cap = TextLineReader::kMaxLineBytes;
        const QByteArray lead = "a\tb\tc\t3|12345678|";
        const QByteArray fits = lead + QByteArray(cap - lead.size(), 'L');
        QTest::newRow("RAWLOG line of 9 MiB, then one that fits exactly")
            << false << Lines{lead + QByteArray(9 * 1024 * 1024 - lead.size(), 'L'), fits}
            << QByteArray("FC")
            << QStringList{u"SRLP: Unable to send packet. Line of 9437184 characters is longer than 8388608"_s}
            << Lines{fits.mid(6)}; // after the three leading fields
    }

    void dataFiles() {
        QFETCH(bool, multiPart);
        QFETCH(Lines, lines);
        QFETCH(QByteArray, results);
        QFETCH(QStringList, log);
        QFETCH(Lines, sent);
        DataFile f;
        const QString name = f.open(lines);
        Lines bodies;
        QCOMPARE(readAll(f.file, multiPart, bodies), results);
        QCOMPARE(f.log, log << u"Close log file: "_s + name << u"Open log file: "_s + name);
        QCOMPARE(bodies, sent);
        // A sequence does not run on into the file's first lines.
        QCOMPARE(f.file.gSeqPartsStored, 0);
    }
};

QTEST_GUILESS_MAIN(TestType4)
#include "tst_type4.moc"
