#include "cannedrecords.h"
#include "ipnddatafile.h"
#include "recordfields.h"
#include "textlinereader.h"
#include "type4frame.h"

#include <QDir>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// Type 4 packets as the wire and the log see them: frames, the checker the
// receiver uses, and the data file read through both readers.
namespace {

using Lines = QList<QByteArray>;

QString sample(const char *name) {
    return QStringLiteral(TALVGEN_SOURCE_DIR "/samples/") + QLatin1String(name);
}

QByteArray bodyOf(qsizetype chars) {
    const QByteArray body = "3|12345678|";
    return body + QByteArray(chars - body.size(), 'b');
}

QByteArray standardBody() {
    return '3' + cannedIpndRecord(CannedRecord::Standard);
}

QByteArray pointBody() {
    return '4' + cannedIpndRecord(CannedRecord::Standard) + cannedMoliRecords().at(kMoliPoint);
}

// Field n (counted from 1 after the type digit) replaced.
QByteArray withField(const QByteArray &body, int n, const QByteArray &value) {
    QList<QByteArray> parts = body.split('|');
    parts[n] = value;
    return parts.join('|');
}

// A data file with its log lines and shown names kept, in a scratch folder.
struct DataFile {
    QTemporaryDir dir;
    QStringList log;
    QStringList shown;
    IpndDataFile file{[this](const QString &line) { log << line; },
                      [this](const QString &name) {
                          shown << name;
                      }};

    QString write(const QString &name, const QByteArray &content) const {
        QFile out(dir.filePath(name));
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
            qFatal("cannot write test file");
        return out.fileName();
    }
    // The lines with CR LF, opened as the data file; the log starts empty.
    QString open(const Lines &lines) {
        const QString name = write(QStringLiteral("data.x01"),
                                   lines.isEmpty() ? QByteArray() : lines.join("\r\n") + "\r\n");
        file.OpenDataFile(name);
        log.clear();
        return name;
    }
    QStringList takeLog() { return std::exchange(log, {}); }
};

// The MULTIPKT log in short: a digit n is "SFIP: Part packet:[n]", c complete,
// D found duplicate, d dumping duplicate, n new start, o out of sequence,
// t different terminal, x non-numeric header.
QStringList sfipLog(const char *codes) {
    const QHash<char, const char *> words = {{'c', "Packet sequence complete"},
                                             {'D', "Found duplicate sequence pkt"},
                                             {'d', "Dumping duplicate sequence pkt"},
                                             {'n', "Found new start sequence pkt"},
                                             {'o', "Dumping pkt out of sequence"},
                                             {'t', "Found different terminal id in sequence pkt"},
                                             {'x', "Unable to send packet header: Non Numeric"}};
    QStringList lines;
    for (const char *code = codes; *code; ++code)
        lines << QStringLiteral("SFIP: ") +
                     (words.contains(*code) ? QString::fromLatin1(words.value(*code))
                                            : QStringLiteral("Part packet:[%1]").arg(*code - '0'));
    return lines;
}

// One call per line up to count, or to the end: F false, T true with the
// sequence open, C true and complete (its body kept in sent).
QByteArray readParts(IpndDataFile &file, qsizetype count, Lines &sent) {
    QByteArray results;
    for (qsizetype i = 0; i < count; ++i) {
        const bool ok = file.ReadMultiPartRecord();
        if (file.endOfInput())
            break;
        results += !ok ? 'F' : (file.gSeqComplete ? 'C' : 'T');
        if (ok && file.gSeqComplete)
            sent << file.gDataRecord;
    }
    return results;
}

// The cycle's loop for one tick: reads until a sequence completes or the
// input ends. The number of reads, or -1 if it would not stop.
int runTick(IpndDataFile &file, Lines &sent) {
    for (int reads = 1; reads <= 1'000'000; ++reads) {
        if (file.ReadMultiPartRecord() && file.gSeqComplete)
            sent << file.gDataRecord;
        if (file.gSeqComplete || file.endOfInput())
            return reads;
    }
    return -1;
}

} // namespace

class TestType4 : public QObject {
    Q_OBJECT

private slots:
    // Terminal ID, four or more length digits, the body: data-file records
    // and canned ones, the canned records with each MOLI choice.
    void frames_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("tail");
        const auto file = [](const char *name, const QByteArray &body, const QByteArray &head) {
            QTest::newRow(name) << frameFileRecord(body) << head << body.mid(1);
        };
        file("file record", "3|12345678|x", "01200123");
        file("file terminal 99", "4|9912345|x", "09900114");
        file("file letters kept", "3|AB12345|x", "AB00113");
        file("file 10000 characters", bodyOf(10000), "012100003");
        const auto moli = cannedMoliRecords();
        const auto canned = [](const char *name, const char *termId, const QByteArray &record,
                               bool moliChecked, const char *head) {
            QTest::newRow(name) << frameCannedRecord(termId, record, moliChecked)
                                << QByteArray(head) << record;
        };
        using enum CannedRecord;
        canned("canned example", "999", "|A|B", false, "99900053");
        canned("MOLI checked", "999", "|A|B", true, "99900054");
        canned("terminal as typed", "12", "|A|B", false, "1200053");
        canned("Standard", "999", cannedIpndRecord(Standard), false, "99903073");
        canned("No Add", "999", cannedIpndRecord(NoAdd), false, "99901593");
        canned("Long", "999", cannedIpndRecord(Long), false, "99906883");
        canned("Min", "999", cannedIpndRecord(Min), false, "99901143");
        canned("Max", "999", cannedIpndRecord(Max), false, "99907063");
        canned("Standard + Point", "999", cannedIpndRecord(Standard) + moli[kMoliPoint], true,
               "99904124");
        canned("Standard + None", "999", cannedIpndRecord(Standard) + moli[kMoliNone], true,
               "99903804");
        canned("Max + full", "999", cannedIpndRecord(Max) + moli[kMoliFull], true, "99912914");
    }

    void frames() {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, tail);
        QCOMPARE(frame.first(head.size()), head);
        QCOMPARE(frame.sliced(head.size()), tail);
    }

    void moliRecordsInOptionOrder() {
        QList<qsizetype> sizes;
        QByteArray shapes;
        for (const QByteArray &record : cannedMoliRecords()) {
            sizes << record.size();
            shapes += record.split('|').value(2);
        }
        QCOMPARE(sizes, (QList<qsizetype>{105, 109, 117, 240, 114, 73, 585, 0}));
        QCOMPARE(shapes, QByteArray("OCAPENX"));
        QVERIFY(cannedIpndRecord(CannedRecord::Long).contains("|NEXT_DOOR_ QQQQQQQQQQQQQQQQQQW|"));
    }

    // Frames back to back come out one by one, whatever the reads.
    void streamOfFrames_data() {
        QTest::addColumn<int>("chunk");
        QTest::newRow("whole") << 1'000'000;
        QTest::newRow("byte by byte") << 1;
    }

    void streamOfFrames() {
        QFETCH(int, chunk);
        const Lines bodies = {"3|12345678|x", bodyOf(10000), "4|9912|a|b", bodyOf(123456), "3|0"};
        QByteArray stream;
        for (const QByteArray &body : bodies)
            stream += frameFileRecord(body);
        Lines seen;
        QByteArray buffer;
        for (qsizetype at = 0; at < stream.size(); at += chunk) {
            buffer += stream.mid(at, chunk);
            Type4Frame frame;
            qsizetype consumed = 0;
            while (Type4Frame::parse(buffer, consumed, frame) == Type4Frame::ParseResult::Frame) {
                QCOMPARE(frame.terminalId, fileRecordTerminalId(frame.body));
                seen << frame.body;
                buffer.remove(0, consumed);
            }
        }
        QCOMPARE(seen, bodies);
        QVERIFY(buffer.isEmpty());
    }

    void checkerAcceptsEveryCannedCombination() {
        for (const CannedRecord which : kCannedRecords) {
            const QByteArray record = cannedIpndRecord(which);
            QVERIFY(checkType4Frame(frameCannedRecord("999", record, false)).ok);
            for (int shape = 0; shape <= kMoliFull; ++shape) {
                const Type4Check check = checkType4Frame(
                    frameCannedRecord("999", record + cannedMoliRecords()[shape], true));
                QVERIFY2(check.ok, qPrintable(check.reason));
                QCOMPARE(check.moliFields, kMoliFieldCount);
            }
        }
    }

    void checkerRefusals_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("reason");
        const QByteArray standard = standardBody();
        const QByteArray point = pointBody();
        const auto row = [](const char *name, const QByteArray &frame, const char *reason) {
            QTest::newRow(name) << frame << QString::fromLatin1(reason);
        };
        const auto framed = [](const QByteArray &body) {
            return frameFileRecord(body);
        };
        row("type 5", framed('5' + standard.mid(1)), "type digit \"5\" is not 3 or 4");
        row("no bar", "99900043A|B",
            "no length of at least 4 digits, type digit and \"|\" after "
            "the terminal ID");
        row("field missing", framed(standard.left(standard.lastIndexOf('|'))),
            "type 3 with 51 fields, expected 52");
        row("type 4 alone", framed('4' + standard.mid(1)), "type 4 without MOLI record");
        row("MOLI field missing", framed(point.left(point.lastIndexOf('|'))),
            "type 4 with 97 fields, expected 52 IPND and 46 MOLI");
        row("name too wide", framed(withField(standard, 6, QByteArray(41, 'N'))),
            "field 6 Customer_Name_1 is 41 wide, at most 40");
        row("ESO name too wide", framed(withField(point, 98, QByteArray(41, 'E'))),
            "MOLI field 46 ESO_Name is 41 wide, at most 40");
        row("shape letter", framed(withField(point, 54, "o")),
            "MOLI shape \"o\" is not one of O, C, A, P, E, N, X");
        row("length one short", "9990306" + standard,
            "length 306, but the body has 307 characters");
        row("length one long", "9990308" + standard, "length 308, but the body has 307 characters");
        row("length too small", "99900013|", "length 1 cannot hold a type digit and \"|\"");
        row("leading zero beyond four digits", "999000053|A|B",
            "length field 00005 has a leading zero beyond four digits");
    }

    void checkerRefusals() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, reason);
        const Type4Check check = checkType4Frame(frame);
        QVERIFY(!check.ok);
        QCOMPARE(check.reason, reason);
    }

    void lineEnds_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Lines>("expected");
        QTest::newRow("CR LF, LF, CR") << QByteArray("a\r\nb\nc\rd") << Lines{"a", "b", "c", "d"};
        QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << Lines{"a", "", "b"};
        QTest::newRow("empty lines, NUL kept")
            << QByteArray("\r\n\0\r\n", 5) << Lines{"", QByteArray(1, '\0')};
        const QByteArray fill(64 * 1024 - 1, 'a'); // CR LF across the reader's reads
        QTest::newRow("CR LF split across reads") << fill + "\r\nb" << Lines{fill, "b"};
        const QByteArray mega(1024 * 1024, 'm');
        QTest::newRow("1 MB line") << "x\r\n" + mega + "\r\ny" << Lines{"x", mega, "y"};
        QTest::newRow("over the cap") << QByteArray(TextLineReader::kMaxLineBytes + 9, 'L') + "\nz"
                                      << Lines{QByteArray(TextLineReader::kMaxLineBytes, 'L'), "z"};
    }

    void lineEnds() {
        QFETCH(QByteArray, content);
        QFETCH(Lines, expected);
        DataFile f;
        TextLineReader reader;
        QVERIFY(reader.open(f.write(QStringLiteral("lines.x01"), content)));
        Lines lines;
        QByteArray line;
        while (reader.readLine(line) == TextLineReader::Result::Line)
            lines << line;
        QCOMPARE(lines, expected);
        QCOMPARE(reader.readLine(line), TextLineReader::Result::EndOfFile);
    }

    void fifoRefusedWithoutWaiting() {
        DataFile f;
        const QString fifo = f.dir.filePath(QStringLiteral("fifo.x01"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        f.file.OpenDataFile(fifo); // would block here if it tried to read it
        QVERIFY(!f.file.isOpen());
        QVERIFY(f.takeLog().value(0).startsWith(
            QLatin1String("Unable to open log file, windows reports: ")));
    }

    // A RAWLOG line: three leading fields, each tab within 100 characters,
    // then a body whose characters 3 to 8 are digits.
    void rawLogLines_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("record"); // empty: refused
        QTest::addColumn<QString>("logLine");
        const QByteArray a99(99, 'a'), a100(100, 'a');
        const QByteArray notStandard = "SRLP: Not standard packet --> ";
        const QByteArray nonNumeric = "SRLP: Unable to send packet. Header is Non Numeric";
        const auto row = [](const char *name, const QByteArray &line, const char *record,
                            const QByteArray &log = {}) {
            QTest::newRow(name) << line << QByteArray(record) << QString::fromLatin1(log);
        };
        row("example", "a\tb\tc\t3|12345678|x", "3|12345678|x");
        row("tabs inside the body", "\t\t\t3|123456\tz", "3|123456\tz");
        row("no tab", "3|12345678|x", "", notStandard + "3|12345678|x");
        row("two tabs", "a\tb\t3|12345678|x", "");
        row("first tab at 100", a99 + "\tb\tc\t3|123456", "3|123456");
        row("first tab at 101", a100 + "\tb\tc\t3|123456", "",
            notStandard + a100 + "\tb\tc\t3|123456");
        row("third tab at 101", "a\tb\t" + a100 + "\t3|123456", "");
        row("letter in header", "a\tb\tc\t3|12345X|x", "", nonNumeric);
        row("sign in header", "a\tb\tc\t3|-12345|x", "", nonNumeric);
        row("header then letters", "a\tb\tc\t3|123456XY", "3|123456XY");
    }

    void rawLogLines() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, record);
        QFETCH(QString, logLine);
        DataFile f;
        f.open({line});
        f.file.gDataRecord = "old";
        QCOMPARE(f.file.ReadRawLogRecord(), !record.isEmpty());
        QCOMPARE(f.file.gDataRecord, record.isEmpty() ? QByteArray("old") : record);
        QCOMPARE(f.takeLog(), logLine.isEmpty() ? QStringList() : QStringList{logLine});
    }

    // Names as the operator writes them; at the end the file starts again.
    void dataFileOpenReadAndRewind() {
        DataFile f;
        QDir().mkpath(f.dir.filePath(QStringLiteral("sub")));
        f.write(QStringLiteral("sub/ipnd3.x01"), "a\tb\tc\t3|111111\r\na\tb\tc\t3|222222\r\n");
        const QString name = QStringLiteral(".\\sub\\ipnd3.x01");
        const QString oldCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(f.dir.path()));
        f.file.OpenDataFile(name);
        Lines records;
        for (int i = 0; i < 4; ++i)
            records << (f.file.ReadRawLogRecord() ? f.file.gDataRecord : QByteArray("end"));
        QDir::setCurrent(oldCurrent);
        QCOMPARE(records, (Lines{"3|111111", "3|222222", "end", "3|111111"}));
        QCOMPARE(f.takeLog(), (QStringList{QStringLiteral("Open log file: ") + name,
                                           QStringLiteral("Close log file: ") + name,
                                           QStringLiteral("Open log file: ") + name}));
        QCOMPARE(f.shown, (QStringList{name, name}));
    }

    void chosenFileThatFailsKeepsTheOld_data() {
        QTest::addColumn<QString>("chosen");
        QTest::newRow("dialog cancelled") << QStringLiteral(".\\*.x01");
        QTest::newRow("folder") << QStringLiteral(".");
    }

    void chosenFileThatFailsKeepsTheOld() {
        QFETCH(QString, chosen);
        DataFile f;
        f.file.gDataFileName = QStringLiteral("before.x01");
        QVERIFY(!f.file.openChosenFile(chosen));
        QCOMPARE(f.file.gDataFileName, QStringLiteral("before.x01"));
        QVERIFY(f.shown.isEmpty() && !f.file.isOpen());
        QVERIFY(f.takeLog().value(0).startsWith(
            QLatin1String("Unable to open log file, windows reports: ")));
        // With no file open the readers report the end and log nothing.
        QVERIFY(!f.file.ReadRawLogRecord() && !f.file.ReadMultiPartRecord());
        QVERIFY(f.file.endOfInput() && f.log.isEmpty());
    }

    void multiPartLines_data() {
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<QByteArray>("results");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<Lines>("sent");
        const auto row = [](const char *name, const Lines &lines, const char *results,
                            const char *log, const Lines &sent) {
            QTest::newRow(name) << lines << QByteArray(results) << sfipLog(log) << sent;
        };
        row("single part", {"99901013|1234567890"}, "C", "c", {"3|1234567890"});
        row("three parts", {"0010301A", "0010302B", "0010303C"}, "TTC", "12c", {"ABC"});
        row("stuck until a new part 1",
            {"0010301A", "0010302B", "0010302B", "0010303C", "0010302B", "0010301A", "0010302B",
             "0010303C"},
            "TTFFFTTC", "12DdoDdDn12c", {"ABC"});
        row("different terminals", {"0010301A", "0010302B", "0020303C"}, "TTF", "12tt", {});
        row("000 and 999 one terminal", {"0000201A", "9990202B"}, "TC", "1c", {"AB"});
        row("part 00 counts as stored", {"0000200X", "0000202B"}, "FC", "oc", {""});
        row("parts 11 to 98", {"0011211X", "0019998Y"}, "FF", "oo", {});
        row("non-numeric clears", {"0010301A", "x", "0010201P", "0010202Q"}, "TFTC", "1x1c",
            {"PQ"});
        row("ten parts",
            {"0011001a", "0011002b", "0011003c", "0011004d", "0011005e", "0011006f", "0011007g",
             "0011008h", "0011009i", "0011010j"},
            "TTTTTTTTTC", "123456789c", {"abcdefghij"});
    }

    void multiPartLines() {
        QFETCH(Lines, lines);
        QFETCH(QByteArray, results);
        QFETCH(QStringList, log);
        QFETCH(Lines, sent);
        DataFile f;
        f.open(lines);
        Lines bodies;
        QCOMPARE(readParts(f.file, lines.size(), bodies), results);
        QCOMPARE(f.takeLog(), log);
        QCOMPARE(bodies, sent);
    }

    // A tick's loop ends even when no sequence can complete: at the end of
    // the file the reader starts it again and reports the end.
    void multiPartTickEnds_data() {
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<int>("reads");
        QTest::newRow("00 parts") << Lines{"0010001A", "0010002B"} << 3;
        QTest::newRow("unfinished") << Lines{"0010301A", "0010302B"} << 3;
        QTest::newRow("40000 dumped lines") << Lines(40'000, "0010302B") << 40'001;
        QTest::newRow("empty file") << Lines{} << 1;
    }

    void multiPartTickEnds() {
        QFETCH(Lines, lines);
        QFETCH(int, reads);
        DataFile f;
        const QString name = f.open(lines);
        Lines sent;
        QCOMPARE(runTick(f.file, sent), reads);
        QVERIFY(sent.isEmpty());
        const QStringList log = f.takeLog();
        QCOMPARE(log.mid(log.size() - 2), (QStringList{QStringLiteral("Close log file: ") + name,
                                                       QStringLiteral("Open log file: ") + name}));
        QCOMPARE(runTick(f.file, sent), reads); // the next tick starts from the top
    }

    // Our made-up samples: every record sendable and valid, of every shape.
    void samplesAreValid() {
        DataFile f;
        f.file.OpenDataFile(sample("ipnd3.x01"));
        QByteArray shapes;
        while (f.file.ReadRawLogRecord()) {
            const Type4Check check = checkType4Frame(frameFileRecord(f.file.gDataRecord));
            QVERIFY2(check.ok, qPrintable(check.reason));
            if (check.moliFields > 0)
                shapes += f.file.gDataRecord.split('|').at(kIpndFieldCount + kMoliShapeField);
        }
        for (const char shape : QByteArray("OCAPEN"))
            QVERIFY(shapes.contains(shape));
        f.file.OpenDataFile(sample("multipkt.x01"));
        f.takeLog();
        Lines bodies;
        QCOMPARE(readParts(f.file, 1000, bodies), QByteArray("CTTCTTFFTTCFFFTTCTFTTC"));
        QCOMPARE(bodies.size(), 5);
        for (const QByteArray &body : bodies)
            QVERIFY(checkType4Body(body).ok);
    }
};

QTEST_GUILESS_MAIN(TestType4)
#include "tst_type4.moc"
