#include "datafilefixture.h"
#include "recordfields.h"
#include "type4frame.h"

#include <QHash>

// The MULTIPKT reader: a seven-digit part header (terminal, parts, part
// number), then the part text; the parts of a sequence are joined once all
// are in.
namespace {

// The log lines in short: a digit n is "SFIP: Part packet:[n]", c complete,
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
    for (const char *code = codes; *code; ++code) {
        lines << QStringLiteral("SFIP: ") +
                     (words.contains(*code) ? QString::fromLatin1(words.value(*code))
                                            : QStringLiteral("Part packet:[%1]").arg(*code - '0'));
    }
    return lines;
}

// Reads up to count lines, one call each, or to the end of the input: per
// line F false, T true with the sequence still open, C true and complete.
QByteArray readParts(IpndDataFile &file, qsizetype count, QList<QByteArray> &completed) {
    QByteArray results;
    for (qsizetype i = 0; i < count; ++i) {
        const bool ok = file.ReadMultiPartRecord();
        if (file.endOfInput())
            break;
        results += !ok ? 'F' : (file.gSeqComplete ? 'C' : 'T');
        if (ok && file.gSeqComplete)
            completed << file.gDataRecord;
    }
    return results;
}

// One packet slot of the cycle: reads until a sequence completes or the
// input ends. Returns the number of lines read, or -1 if it would not stop.
int runSlot(IpndDataFile &file, QList<QByteArray> &sent) {
    constexpr int kGiveUp = 1'000'000;
    for (int reads = 1; reads <= kGiveUp; ++reads) {
        if (file.ReadMultiPartRecord() && file.gSeqComplete)
            sent << file.gDataRecord;
        if (file.gSeqComplete || file.endOfInput())
            return reads;
    }
    return -1;
}

} // namespace

class TestMultiPartReader : public QObject {
    Q_OBJECT

private slots:
    void lineByLine_data() {
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<QByteArray>("results");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QList<QByteArray>>("sent");
        using B = QList<QByteArray>;
        const auto row = [](const char *name, const B &lines, const char *results, const char *log,
                            const B &sent) {
            QTest::newRow(name) << lines << QByteArray(results) << sfipLog(log) << sent;
        };
        row("single part", {"99901013|1234567890"}, "C", "c", {"3|1234567890"});
        row("three parts", {"0010301A", "0010302B", "0010303C"}, "TTC", "12c", {"ABC"});
        row("duplicate, then out of sequence", {"0010301A", "0010302B", "0010302B", "0010303C"},
            "TTFF", "12Ddo", {});
        row("stuck until a new part 1",
            {"0010301A", "0010302B", "0010302B", "0010303C", "0010302B", "0010301A", "0010302B",
             "0010303C"},
            "TTFFFTTC", "12DdoDdDn12c", {"ABC"});
        row("different terminals", {"0010201A", "0020202B"}, "TF", "1t", {});
        row("each differing part logged", {"0010301A", "0010302B", "0020303C"}, "TTF", "12tt", {});
        row("000 and 999 one terminal", {"0000201A", "9990202B"}, "TC", "1c", {"AB"});
        row("after different terminals, start again",
            {"0010201A", "0020202B", "0030201X", "0030202Y"}, "TFTC", "1t1c", {"XY"});
        row("part 00", {"0010100X", "0010100X", "#", "0010100X"}, "FFFF", "oDdxDd", {});
        row("part 00 counts as stored", {"0000200X", "0000202B"}, "FC", "oc", {""});
        row("parts 11 to 98", {"0011211X", "0019998Y", "0015050Z"}, "FFF", "ooo", {});
        row("part 99 is part 00", {"0010199X", "0010100Y"}, "FF", "oDd", {});
        row("letters in header", {"00A0101X"}, "F", "x", {});
        row("empty line", {""}, "F", "x", {});
        row("non-numeric clears", {"0010301A", "x", "0010201P", "0010202Q"}, "TFTC", "1x1c",
            {"PQ"});
        row("ten parts",
            {"0011001a", "0011002b", "0011003c", "0011004d", "0011005e", "0011006f", "0011007g",
             "0011008h", "0011009i", "0011010j"},
            "TTTTTTTTTC", "123456789c", {"abcdefghij"});
    }

    void lineByLine() {
        QFETCH(QList<QByteArray>, lines);
        QFETCH(QByteArray, results);
        QFETCH(QStringList, log);
        QFETCH(QList<QByteArray>, sent);
        DataFileFixture f;
        f.openLines(lines);
        QList<QByteArray> bodies;
        QCOMPARE(readParts(f.file, lines.size(), bodies), results);
        QCOMPARE(f.takeLog(), log);
        QCOMPARE(bodies, sent);
    }

    void expectedPartStopsAtTheTop() {
        DataFileFixture f;
        f.openLines({"0010302B", "0010302B"});
        f.file.gSeqExpectedPart = 32766;
        QVERIFY(!f.file.ReadMultiPartRecord());
        QCOMPARE(f.file.gSeqExpectedPart, qint16(32767));
        QVERIFY(!f.file.ReadMultiPartRecord());
        QCOMPARE(f.file.gSeqExpectedPart, qint16(32767));
    }

    // A slot must end even when no sequence can complete: at the end of the
    // file the reader starts the file again and reports the end.
    void slotEndsAtEndOfFile_data() {
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<int>("reads");
        QTest::addColumn<QList<QByteArray>>("sent");
        using B = QList<QByteArray>;
        QTest::newRow("00 parts") << B{"0010001A", "0010002B", "0010003C"} << 4 << B{};
        QTest::newRow("99 parts") << B{"0019901A", "0019902B"} << 3 << B{};
        QTest::newRow("unfinished") << B{"0010301A", "0010302B"} << 3 << B{};
        QTest::newRow("ends with part 11") << B{"0010301A", "0010311B"} << 3 << B{};
        QTest::newRow("complete first") << B{"0010201A", "0010202B"} << 2 << B{"AB"};
        QTest::newRow("empty file") << B{} << 1 << B{};
    }

    void slotEndsAtEndOfFile() {
        QFETCH(QList<QByteArray>, lines);
        QFETCH(int, reads);
        QFETCH(QList<QByteArray>, sent);
        DataFileFixture f;
        const QString name = f.write(QStringLiteral("m.x01"),
                                     lines.isEmpty() ? QByteArray() : lines.join("\r\n") + "\r\n");
        f.file.OpenDataFile(name);
        f.takeLog();
        QList<QByteArray> bodies;
        QCOMPARE(runSlot(f.file, bodies), reads);
        QCOMPARE(bodies, sent);
        if (!sent.isEmpty())
            return;
        const QStringList log = f.takeLog();
        QCOMPARE(log.mid(log.size() - 2), QStringList({QStringLiteral("Close log file: ") + name,
                                                       QStringLiteral("Open log file: ") + name}));
        // The next slot reads the file from its first line, the sequence cleared.
        QCOMPARE(runSlot(f.file, bodies), reads);
        QCOMPARE(f.takeLog(), log);
    }

    // Tens of thousands of dumped lines in one slot: read through, no
    // overflow, and the slot ends at the end of the file.
    void longRunOfDumpedLines() {
        DataFileFixture f;
        f.openLines(QList<QByteArray>(40'000, "0010302B"));
        QList<QByteArray> bodies;
        QCOMPARE(runSlot(f.file, bodies), 40'001);
        QVERIFY(bodies.isEmpty());
        QCOMPARE(f.logLines.size(), 1 + 2 * 39'999 + 2);
    }

    void multiPartSample() {
        DataFileFixture f;
        f.file.OpenDataFile(sample("multipkt.x01"));
        f.takeLog();
        QList<QByteArray> bodies;
        QCOMPARE(readParts(f.file, 1000, bodies), QByteArray("CTTCTTFFTTCFFFTTCTFTTC"));
        QCOMPARE(f.takeLog().mid(0, 25), sfipLog("c12c12DdoDn12coox12c1t12c"));
        QCOMPARE(bodies.size(), 5);
        for (const QByteArray &body : bodies) {
            const Type4Check check = checkType4Body(body);
            QVERIFY2(check.ok, qPrintable(check.reason));
        }
        QCOMPARE(fileRecordTerminalId(bodies.last()), QByteArray("099"));
    }
};

QTEST_GUILESS_MAIN(TestMultiPartReader)
#include "tst_multipartreader.moc"
