#include "datafilefixture.h"
#include "type4frame.h"

// The MULTIPKT reader: a seven-digit part header (terminal, parts, part
// number), then the part text; the parts of a sequence are joined once all
// are in.
namespace {

const QString kComplete = QStringLiteral("SFIP: Packet sequence complete");
const QString kDuplicate = QStringLiteral("SFIP: Found duplicate sequence pkt");
const QString kDumpDuplicate = QStringLiteral("SFIP: Dumping duplicate sequence pkt");
const QString kNewStart = QStringLiteral("SFIP: Found new start sequence pkt");
const QString kOutOfSequence = QStringLiteral("SFIP: Dumping pkt out of sequence");
const QString kOtherTerminal = QStringLiteral("SFIP: Found different terminal id in sequence pkt");
const QString kNonNumeric = QStringLiteral("SFIP: Unable to send packet header: Non Numeric");

QString part(int p) {
    return QStringLiteral("SFIP: Part packet:[%1]").arg(p);
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
    // Each line is read by one call. results: per line, F false, T true with
    // the sequence still open, C true and complete.
    void lineByLine_data() {
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<QByteArray>("results");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QList<QByteArray>>("sent");
        using B = QList<QByteArray>;

        QTest::newRow("single part") << B{"99901013|1234567890"} << QByteArray("C")
                                     << QStringList{kComplete} << B{"3|1234567890"};
        QTest::newRow("three parts") << B{"0010301A", "0010302B", "0010303C"} << QByteArray("TTC")
                                     << QStringList{part(1), part(2), kComplete} << B{"ABC"};
        QTest::newRow("duplicate, then out of sequence")
            << B{"0010301A", "0010302B", "0010302B", "0010303C"} << QByteArray("TTFF")
            << QStringList{part(1), part(2), kDuplicate, kDumpDuplicate, kOutOfSequence} << B{};
        QTest::newRow("stuck until a new part 1")
            << B{"0010301A", "0010302B", "0010302B", "0010303C",
                 "0010302B", "0010301A", "0010302B", "0010303C"}
            << QByteArray("TTFFFTTC")
            << QStringList{part(1),        part(2),    kDuplicate,     kDumpDuplicate,
                           kOutOfSequence, kDuplicate, kDumpDuplicate, kDuplicate,
                           kNewStart,      part(1),    part(2),        kComplete}
            << B{"ABC"};
        QTest::newRow("different terminals") << B{"0010201A", "0020202B"} << QByteArray("TF")
                                             << QStringList{part(1), kOtherTerminal} << B{};
        QTest::newRow("each differing part logged")
            << B{"0010301A", "0010302B", "0020303C"} << QByteArray("TTF")
            << QStringList{part(1), part(2), kOtherTerminal, kOtherTerminal} << B{};
        QTest::newRow("000 and 999 one terminal") << B{"0000201A", "9990202B"} << QByteArray("TC")
                                                  << QStringList{part(1), kComplete} << B{"AB"};
        QTest::newRow("after different terminals, start again")
            << B{"0010201A", "0020202B", "0030201X", "0030202Y"} << QByteArray("TFTC")
            << QStringList{part(1), kOtherTerminal, part(1), kComplete} << B{"XY"};
        QTest::newRow("part 00") << B{"0010100X", "0010100X", "#", "0010100X"} << QByteArray("FFFF")
                                 << QStringList{kOutOfSequence, kDuplicate, kDumpDuplicate,
                                                kNonNumeric,    kDuplicate, kDumpDuplicate}
                                 << B{};
        QTest::newRow("part 00 counts as stored")
            << B{"0000200X", "0000202B"} << QByteArray("FC")
            << QStringList{kOutOfSequence, kComplete} << B{""};
        QTest::newRow("parts 11 to 98")
            << B{"0011211X", "0019998Y", "0015050Z"} << QByteArray("FFF")
            << QStringList{kOutOfSequence, kOutOfSequence, kOutOfSequence} << B{};
        QTest::newRow("part 99 is part 00")
            << B{"0010199X", "0010100Y"} << QByteArray("FF")
            << QStringList{kOutOfSequence, kDuplicate, kDumpDuplicate} << B{};
        QTest::newRow("letters in header")
            << B{"00A0101X"} << QByteArray("F") << QStringList{kNonNumeric} << B{};
        QTest::newRow("empty line") << B{""} << QByteArray("F") << QStringList{kNonNumeric} << B{};
        QTest::newRow("non-numeric clears")
            << B{"0010301A", "x", "0010201P", "0010202Q"} << QByteArray("TFTC")
            << QStringList{part(1), kNonNumeric, part(1), kComplete} << B{"PQ"};
        QTest::newRow("ten parts") << B{"0011001a", "0011002b", "0011003c", "0011004d", "0011005e",
                                        "0011006f", "0011007g", "0011008h", "0011009i", "0011010j"}
                                   << QByteArray("TTTTTTTTTC")
                                   << QStringList{part(1), part(2), part(3), part(4), part(5),
                                                  part(6), part(7), part(8), part(9), kComplete}
                                   << B{"abcdefghij"};
    }

    void lineByLine() {
        QFETCH(QList<QByteArray>, lines);
        QFETCH(QByteArray, results);
        QFETCH(QStringList, log);
        QFETCH(QList<QByteArray>, sent);
        DataFileFixture f;
        f.openLines(lines);
        QByteArray seen;
        QList<QByteArray> bodies;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const bool ok = f.file.ReadMultiPartRecord();
            seen += !ok ? 'F' : (f.file.gSeqComplete ? 'C' : 'T');
            if (ok && f.file.gSeqComplete)
                bodies << f.file.gDataRecord;
            QVERIFY(!f.file.endOfInput());
        }
        QCOMPARE(seen, results);
        QCOMPARE(f.takeLog(), log);
        QCOMPARE(bodies, sent);
    }

    void singlePartTakesTerminalFromBody() {
        DataFileFixture f;
        f.openLines({"99901013|1234567890"});
        QVERIFY(f.file.ReadMultiPartRecord());
        QVERIFY(f.file.gSeqComplete);
        QCOMPARE(frameFileRecord(f.file.gDataRecord), QByteArray("01200123|1234567890"));
    }

    void headerIsTakenApart() {
        DataFileFixture f;
        f.openLines({"0420305text"});
        QVERIFY(!f.file.ReadMultiPartRecord());
        QCOMPARE(f.file.gSeqTerminalID, qint16(42));
        QCOMPARE(f.file.gSeqPartTotal, qint16(3));
        QCOMPARE(f.file.gSeqPartNumber, qint16(5));
        QCOMPARE(f.file.gSeqExpectedPart, qint16(1));
        QVERIFY(f.file.gSeqPartReceived[5]);
        QCOMPARE(f.file.gSeqPartTerminal[5], qint16(42));
        QCOMPARE(f.file.gSeqPartText[5], QByteArray("text"));
    }

    void resetLeavesPartZeroAndTexts() {
        DataFileFixture f;
        f.file.gSeqPartReceived.fill(true);
        f.file.gSeqPartTerminal.fill(7);
        f.file.gSeqPartText.fill("t");
        f.file.gSeqComplete = true;
        f.file.gDataRecord = "kept";
        f.file.gSeqExpectedPart = 9;
        f.file.ResetSequence();
        QVERIFY(f.file.gSeqPartReceived[0]);
        QCOMPARE(f.file.gSeqPartTerminal[0], qint16(7));
        for (int p = 1; p <= 10; ++p) {
            QVERIFY(!f.file.gSeqPartReceived[p]);
            QCOMPARE(f.file.gSeqPartTerminal[p], qint16(0));
            QCOMPARE(f.file.gSeqPartText[p], QByteArray("t"));
        }
        QVERIFY(f.file.gSeqComplete);
        QCOMPARE(f.file.gDataRecord, QByteArray("kept"));
        QCOMPARE(f.file.gSeqExpectedPart, qint16(0));
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
        if (sent.isEmpty()) {
            const QStringList log = f.takeLog();
            QVERIFY(log.size() >= 2);
            QCOMPARE(log.mid(log.size() - 2),
                     QStringList({QStringLiteral("Close log file: ") + name,
                                  QStringLiteral("Open log file: ") + name}));
            // The next slot reads the file from its first line, state cleared.
            QVERIFY(f.file.isOpen());
            QCOMPARE(f.file.gSeqExpectedPart, qint16(0));
            if (!lines.isEmpty()) {
                f.file.ReadMultiPartRecord();
                QCOMPARE(f.file.gSeqExpectedPart, qint16(1));
            }
        }
    }

    void slotWithoutFileEnds() {
        DataFileFixture f;
        QList<QByteArray> bodies;
        QCOMPARE(runSlot(f.file, bodies), 1);
        QVERIFY(f.logLines.isEmpty());
    }

    // Tens of thousands of dumped lines in one slot: read through, no
    // overflow, and the slot ends at the end of the file.
    void longRunOfDumpedLines() {
        DataFileFixture f;
        QList<QByteArray> lines(40'000, "0010302B");
        f.openLines(lines);
        QList<QByteArray> bodies;
        QCOMPARE(runSlot(f.file, bodies), 40'001);
        QVERIFY(bodies.isEmpty());
        QCOMPARE(f.logLines.size(), 1 + 2 * 39'999 + 2);
    }
};

QTEST_GUILESS_MAIN(TestMultiPartReader)
#include "tst_multipartreader.moc"
