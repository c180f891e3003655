#include "datafilefixture.h"

#include <QDir>

// Opening the data file and the RAWLOG reader: each line is three
// tab-separated leading fields, then the packet body.
class TestRawLogReader : public QObject {
    Q_OBJECT

private slots:
    void lines_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QByteArray>("record"); // gDataRecord afterwards; it starts as "old"
        QTest::addColumn<QStringList>("log");
        const QByteArray old = "old";
        const QByteArray a99(99, 'a'), a100(100, 'a');
        const QStringList none;
        const QString notStandard = QStringLiteral("SRLP: Not standard packet --> ");
        const QStringList nonNumeric = {
            QStringLiteral("SRLP: Unable to send packet. Header is Non Numeric")};

        QTest::newRow("example") << QByteArray("a\tb\tc\t3|12345678|x") << true
                                 << QByteArray("3|12345678|x") << none;
        QTest::newRow("empty leading fields")
            << QByteArray("\t\t\t3|123456") << true << QByteArray("3|123456") << none;
        QTest::newRow("tabs inside the body")
            << QByteArray("a\tb\tc\t3|123456\tz") << true << QByteArray("3|123456\tz") << none;
        QTest::newRow("no tab") << QByteArray("3|12345678|x") << false << old
                                << QStringList{notStandard + QStringLiteral("3|12345678|x")};
        QTest::newRow("empty line") << QByteArray() << false << old << QStringList{notStandard};
        QTest::newRow("two tabs") << QByteArray("a\tb\t3|12345678|x") << false << old << none;
        QTest::newRow("one tab") << QByteArray("a\t3|12345678|x") << false << old << none;
        QTest::newRow("first tab at 100")
            << a99 + "\tb\tc\t3|123456" << true << QByteArray("3|123456") << none;
        QTest::newRow("first tab at 101") << a100 + "\tb\tc\t3|123456" << false << old
                                          << QStringList{notStandard + QString::fromLatin1(a100) +
                                                         QStringLiteral("\tb\tc\t3|123456")};
        QTest::newRow("second tab at 100")
            << "a\t" + a99 + "\tc\t3|123456" << true << QByteArray("3|123456") << none;
        QTest::newRow("second tab at 101")
            << "a\t" + a100 + "\tc\t3|123456" << false << old << none;
        QTest::newRow("third tab at 100")
            << "a\tb\t" + a99 + "\t3|123456" << true << QByteArray("3|123456") << none;
        QTest::newRow("third tab at 101") << "a\tb\t" + a100 + "\t3|123456" << false << old << none;
        QTest::newRow("letters in header")
            << QByteArray("a\tb\tc\t3|ABC12345|x") << false << old << nonNumeric;
        QTest::newRow("blank in header")
            << QByteArray("a\tb\tc\t3|12 456|x") << false << old << nonNumeric;
        QTest::newRow("sign in header")
            << QByteArray("a\tb\tc\t3|-12345|x") << false << old << nonNumeric;
        QTest::newRow("no header at all")
            << QByteArray("a\tb\tc\t3|") << false << old << nonNumeric;
        QTest::newRow("empty body") << QByteArray("a\tb\tc\t") << false << old << nonNumeric;
        QTest::newRow("short header tested as is")
            << QByteArray("a\tb\tc\t3|1234") << true << QByteArray("3|1234") << none;
        QTest::newRow("8 characters")
            << QByteArray("a\tb\tc\t3|123456") << true << QByteArray("3|123456") << none;
        QTest::newRow("10 characters")
            << QByteArray("a\tb\tc\t3|12345678") << true << QByteArray("3|12345678") << none;
        QTest::newRow("header then letters")
            << QByteArray("a\tb\tc\t3|123456XY") << true << QByteArray("3|123456XY") << none;
    }

    void lines() {
        QFETCH(QByteArray, line);
        QFETCH(bool, result);
        QFETCH(QByteArray, record);
        QFETCH(QStringList, log);
        DataFileFixture f;
        f.openLines({line});
        f.file.gDataRecord = "old";
        QCOMPARE(f.file.ReadRawLogRecord(), result);
        QCOMPARE(f.file.gDataRecord, record);
        QCOMPARE(f.takeLog(), log);
        QVERIFY(!f.file.endOfInput());
    }

    void nonNumericHeaderClearsTheSequence() {
        DataFileFixture f;
        f.openLines({"a\tb\tc\t3|ABCDEF"});
        f.file.gSeqExpectedPart = 4;
        f.file.gSeqPartsStored = 2;
        f.file.gSeqPartReceived[2] = true;
        f.file.gSeqPartReceived[0] = true;
        QVERIFY(!f.file.ReadRawLogRecord());
        QCOMPARE(f.file.gSeqExpectedPart, qint16(0));
        QCOMPARE(f.file.gSeqPartsStored, qint16(0));
        QVERIFY(!f.file.gSeqPartReceived[2]);
        QVERIFY(f.file.gSeqPartReceived[0]); // clearing never reaches index 0
    }

    void endOfFileStartsAgain() {
        DataFileFixture f;
        const QString name = f.openLines({"a\tb\tc\t3|1200001|first", "a\tb\tc\t3|1200002|second"});
        QVERIFY(f.file.ReadRawLogRecord());
        QVERIFY(f.file.ReadRawLogRecord());
        QCOMPARE(f.file.gDataRecord, QByteArray("3|1200002|second"));
        QVERIFY(f.takeLog().isEmpty());

        QVERIFY(!f.file.ReadRawLogRecord());
        QVERIFY(f.file.endOfInput());
        QCOMPARE(f.takeLog(), QStringList({QStringLiteral("Close log file: ") + name,
                                           QStringLiteral("Open log file: ") + name}));
        QCOMPARE(f.shownNames, QStringList{name});
        QCOMPARE(f.file.gDataRecord, QByteArray("3|1200002|second"));

        QVERIFY(f.file.ReadRawLogRecord());
        QVERIFY(!f.file.endOfInput());
        QCOMPARE(f.file.gDataRecord, QByteArray("3|1200001|first"));
    }

    void emptyFileOnlyStartsAgain() {
        DataFileFixture f;
        const QString name = f.write(QStringLiteral("empty.x01"), QByteArray());
        f.file.OpenDataFile(name);
        f.takeLog();
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!f.file.ReadRawLogRecord());
            QVERIFY(f.file.endOfInput());
            QCOMPARE(f.takeLog(), QStringList({QStringLiteral("Close log file: ") + name,
                                               QStringLiteral("Open log file: ") + name}));
        }
    }

    void openDataFile() {
        DataFileFixture f;
        const QString name = f.write(QStringLiteral("a.x01"), "a\tb\tc\t3|123456\r\n");
        f.file.OpenDataFile(QString()); // nothing named yet: nothing happens
        QVERIFY(f.logLines.isEmpty());
        QVERIFY(f.shownNames.isEmpty());
        QVERIFY(!f.file.isOpen());

        f.file.OpenDataFile(name);
        QVERIFY(f.file.isOpen());
        QCOMPARE(f.file.gDataFileName, name);
        QCOMPARE(f.shownNames, QStringList{name});
        QCOMPARE(f.takeLog(), QStringList{QStringLiteral("Open log file: ") + name});

        f.file.close();
        QVERIFY(!f.file.isOpen());
        f.file.OpenDataFile(QString()); // reopens gDataFileName from the top
        QCOMPARE(f.takeLog(), QStringList{QStringLiteral("Open log file: ") + name});
        QVERIFY(f.file.ReadRawLogRecord());
    }

    void missingFile() {
        DataFileFixture f;
        const QString name = f.path(QStringLiteral("missing.x01"));
        f.file.OpenDataFile(name);
        QVERIFY(!f.file.isOpen());
        QCOMPARE(f.file.gDataFileName, name);
        QCOMPARE(f.shownNames, QStringList{name});
        const QStringList log = f.takeLog();
        QCOMPARE(log.size(), 1);
        QVERIFY(log[0].startsWith(QStringLiteral("Unable to open log file, windows reports: ")));
        QVERIFY(log[0].size() > 45); // followed by the system's description

        // With no file open the readers report the end and log nothing.
        QVERIFY(!f.file.ReadRawLogRecord());
        QVERIFY(f.file.endOfInput());
        QVERIFY(!f.file.ReadMultiPartRecord());
        QVERIFY(f.file.endOfInput());
        QVERIFY(f.takeLog().isEmpty());
    }

    void chosenFile() {
        DataFileFixture f;
        const QString first = f.write(QStringLiteral("first.x01"), "a\tb\tc\t3|111111\r\n");
        const QString second = f.write(QStringLiteral("second.x01"), "a\tb\tc\t3|222222\r\n");
        QVERIFY(f.file.openChosenFile(first));
        QCOMPARE(f.file.gDataFileName, first);
        QCOMPARE(f.shownNames, QStringList{first});
        QCOMPARE(f.takeLog(), QStringList{QStringLiteral("Open log file: ") + first});

        f.file.close();
        QVERIFY(f.file.openChosenFile(second));
        QVERIFY(f.file.ReadRawLogRecord());
        QCOMPARE(f.file.gDataRecord, QByteArray("3|222222"));
        QCOMPARE(f.file.gDataFileName, second);
    }

    void chosenFileFails_data() {
        QTest::addColumn<QString>("chosen");
        QTest::newRow("dialog cancelled") << QStringLiteral(".\\*.x01");
        QTest::newRow("missing") << QStringLiteral("no-such-folder\\no-such.x01");
        QTest::newRow("folder") << QStringLiteral(".");
        QTest::newRow("empty") << QString();
    }

    void chosenFileFails() {
        QFETCH(QString, chosen);
        DataFileFixture f;
        const QString before = f.write(QStringLiteral("before.x01"), "x\r\n");
        f.file.gDataFileName = before;
        QVERIFY(!f.file.openChosenFile(chosen));
        QVERIFY(!f.file.isOpen());
        QCOMPARE(f.file.gDataFileName, before);
        QVERIFY(f.shownNames.isEmpty());
        const QStringList log = f.takeLog();
        QCOMPARE(log.size(), 1);
        QVERIFY(log[0].startsWith(QStringLiteral("Unable to open log file, windows reports: ")));
    }

    void operatorPathWithBackslash() {
        DataFileFixture f;
        QDir().mkpath(f.path(QStringLiteral("sub")));
        f.write(QStringLiteral("sub/ipnd3.x01"), "a\tb\tc\t3|123456\r\n");
        const QString oldCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(f.dir.path()));
        f.file.OpenDataFile(QStringLiteral(".\\sub\\ipnd3.x01"));
        QDir::setCurrent(oldCurrent);
        QCOMPARE(f.takeLog(), QStringList{QStringLiteral("Open log file: .\\sub\\ipnd3.x01")});
        QCOMPARE(f.shownNames, QStringList{QStringLiteral(".\\sub\\ipnd3.x01")});
        QVERIFY(f.file.ReadRawLogRecord());
    }

    void fileRemovedWhileOpen() {
        DataFileFixture f;
        const QString name = f.openLines({"a\tb\tc\t3|111111", "a\tb\tc\t3|222222"});
        QVERIFY(f.file.ReadRawLogRecord());
        QVERIFY(QFile::remove(name));
        // What was opened is still read to its end; starting again then fails.
        while (f.file.ReadRawLogRecord()) {
        }
        const QStringList log = f.takeLog();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0], QStringLiteral("Close log file: ") + name);
        QVERIFY(log[1].startsWith(QStringLiteral("Unable to open log file, windows reports: ")));
        QVERIFY(!f.file.isOpen());
        QVERIFY(!f.file.ReadRawLogRecord());
        QVERIFY(f.file.endOfInput());
        QVERIFY(f.takeLog().isEmpty());
    }

    void crOnlyLineEnds() {
        DataFileFixture f;
        f.file.OpenDataFile(
            f.write(QStringLiteral("cr.x01"), "a\tb\tc\t3|111111\ra\tb\tc\t3|222222\r"));
        QVERIFY(f.file.ReadRawLogRecord());
        QCOMPARE(f.file.gDataRecord, QByteArray("3|111111"));
        QVERIFY(f.file.ReadRawLogRecord());
        QCOMPARE(f.file.gDataRecord, QByteArray("3|222222"));
    }

    void megabyteLines() {
        DataFileFixture f;
        const QByteArray big(1024 * 1024, 'q');
        f.openLines({big, "a\tb\tc\t3|123456|" + big});
        QVERIFY(!f.file.ReadRawLogRecord());
        const QStringList log = f.takeLog();
        QCOMPARE(log.size(), 1);
        QCOMPARE(log[0].size(), 30 + big.size()); // the whole line follows the prefix
        QVERIFY(f.file.ReadRawLogRecord());
        QCOMPARE(f.file.gDataRecord.size(), 9 + big.size());
    }

    void binaryFile() {
        DataFileFixture f;
        QByteArray bytes;
        quint32 seed = 99;
        for (int i = 0; i < 256 * 1024; ++i) {
            seed = seed * 1664525u + 1013904223u;
            bytes += char(seed >> 24);
        }
        f.file.OpenDataFile(f.write(QStringLiteral("binary.x01"), bytes));
        int reads = 0;
        do {
            f.file.ReadRawLogRecord();
        } while (!f.file.endOfInput() && ++reads < 1'000'000);
        QVERIFY(reads < 1'000'000);
        QVERIFY(f.file.isOpen()); // started again from the top
    }

    void hundredThousandLines() {
        DataFileFixture f;
        QByteArray content;
        for (int i = 0; i < 100'000; ++i)
            content +=
                "2024-05-01\t10:00:00\tRX\t3|" + QByteArray::number(1'200'000 + i) + "|x\r\n";
        f.file.OpenDataFile(f.write(QStringLiteral("many.x01"), content));
        int records = 0;
        while (f.file.ReadRawLogRecord())
            ++records;
        QCOMPARE(records, 100'000);
        QVERIFY(f.file.endOfInput());
        QCOMPARE(f.file.gDataRecord, QByteArray("3|1299999|x"));
    }
};

QTEST_GUILESS_MAIN(TestRawLogReader)
#include "tst_rawlogreader.moc"
