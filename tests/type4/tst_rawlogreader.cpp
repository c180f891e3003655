#include "datafilefixture.h"
#include "recordfields.h"
#include "type4frame.h"

#include <QDir>
#include <QSet>

// Opening the data file and the RAWLOG reader: each line is three
// tab-separated leading fields, then the packet body.
namespace {

const QString kOpen = QStringLiteral("Open log file: ");
const QString kClose = QStringLiteral("Close log file: ");
const QString kUnableToOpen = QStringLiteral("Unable to open log file, windows reports: ");

} // namespace

class TestRawLogReader : public QObject {
    Q_OBJECT

private slots:
    void lines_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("record"); // empty: refused, gDataRecord keeps what it had
        QTest::addColumn<QString>("logLine");   // empty: nothing logged
        const QByteArray a99(99, 'a'), a100(100, 'a');
        const QByteArray notStandard = "SRLP: Not standard packet --> ";
        const QByteArray nonNumeric = "SRLP: Unable to send packet. Header is Non Numeric";
        const auto row = [](const char *name, const QByteArray &line, const char *record,
                            const QByteArray &log = {}) {
            QTest::newRow(name) << line << QByteArray(record) << QString::fromLatin1(log);
        };
        row("example", "a\tb\tc\t3|12345678|x", "3|12345678|x");
        row("empty leading fields", "\t\t\t3|123456", "3|123456");
        row("tabs inside the body", "a\tb\tc\t3|123456\tz", "3|123456\tz");
        row("no tab", "3|12345678|x", "", notStandard + "3|12345678|x");
        row("empty line", "", "", notStandard);
        row("two tabs", "a\tb\t3|12345678|x", "");
        row("one tab", "a\t3|12345678|x", "");
        row("first tab at 100", a99 + "\tb\tc\t3|123456", "3|123456");
        row("first tab at 101", a100 + "\tb\tc\t3|123456", "",
            notStandard + a100 + "\tb\tc\t3|123456");
        row("second tab at 100", "a\t" + a99 + "\tc\t3|123456", "3|123456");
        row("second tab at 101", "a\t" + a100 + "\tc\t3|123456", "");
        row("third tab at 100", "a\tb\t" + a99 + "\t3|123456", "3|123456");
        row("third tab at 101", "a\tb\t" + a100 + "\t3|123456", "");
        row("letters in header", "a\tb\tc\t3|ABC12345|x", "", nonNumeric);
        row("blank in header", "a\tb\tc\t3|12 456|x", "", nonNumeric);
        row("sign in header", "a\tb\tc\t3|-12345|x", "", nonNumeric);
        row("no header at all", "a\tb\tc\t3|", "", nonNumeric);
        row("empty body", "a\tb\tc\t", "", nonNumeric);
        row("short header tested as is", "a\tb\tc\t3|1234", "3|1234");
        row("8 characters", "a\tb\tc\t3|123456", "3|123456");
        row("10 characters", "a\tb\tc\t3|12345678", "3|12345678");
        row("header then letters", "a\tb\tc\t3|123456XY", "3|123456XY");
    }

    void lines() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, record);
        QFETCH(QString, logLine);
        DataFileFixture f;
        f.openLines({line});
        f.file.gDataRecord = "old";
        QCOMPARE(f.file.ReadRawLogRecord(), !record.isEmpty());
        QCOMPARE(f.file.gDataRecord, record.isEmpty() ? QByteArray("old") : record);
        QCOMPARE(f.takeLog(), logLine.isEmpty() ? QStringList() : QStringList{logLine});
        QVERIFY(!f.file.endOfInput());
    }

    void nonNumericHeaderClearsTheSequence() {
        DataFileFixture f;
        f.openLines({"a\tb\tc\t3|ABCDEF"});
        f.file.gSeqExpectedPart = 4;
        f.file.gSeqPartsStored = 2;
        f.file.gSeqPartReceived.fill(true);
        QVERIFY(!f.file.ReadRawLogRecord());
        QCOMPARE(f.file.gSeqExpectedPart, qint16(0));
        QCOMPARE(f.file.gSeqPartsStored, qint16(0));
        QVERIFY(!f.file.gSeqPartReceived[2]);
        QVERIFY(f.file.gSeqPartReceived[0]); // clearing never reaches index 0
    }

    // Operator paths use a backslash as the folder separator; the log and the
    // display show the name as given.
    void openDataFile() {
        DataFileFixture f;
        QDir().mkpath(f.path(QStringLiteral("sub")));
        f.write(QStringLiteral("sub/ipnd3.x01"), "a\tb\tc\t3|123456\r\n");
        const QString name = QStringLiteral(".\\sub\\ipnd3.x01");
        const QString oldCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(f.dir.path()));
        f.file.OpenDataFile(QString()); // nothing named yet: nothing happens
        QVERIFY(f.logLines.isEmpty() && f.shownNames.isEmpty() && !f.file.isOpen());
        f.file.OpenDataFile(name);
        QVERIFY(f.file.isOpen());
        f.file.close();
        f.file.OpenDataFile(QString()); // reopens gDataFileName from the top
        QDir::setCurrent(oldCurrent);
        QCOMPARE(f.file.gDataFileName, name);
        QCOMPARE(f.shownNames, QStringList({name, name}));
        QCOMPARE(f.takeLog(), QStringList({kOpen + name, kOpen + name}));
        QVERIFY(f.file.ReadRawLogRecord());

        // The file the operator chose becomes the data file.
        const QString chosen = f.write(QStringLiteral("chosen.x01"), "a\tb\tc\t3|222222\r\n");
        QVERIFY(f.file.openChosenFile(chosen));
        QCOMPARE(f.file.gDataFileName, chosen);
        QCOMPARE(f.shownNames.last(), chosen);
        QCOMPARE(f.takeLog(), QStringList{kOpen + chosen});
        QVERIFY(f.file.ReadRawLogRecord());
        QCOMPARE(f.file.gDataRecord, QByteArray("3|222222"));
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
        QVERIFY(log[0].startsWith(kUnableToOpen));
        QVERIFY(log[0].size() > kUnableToOpen.size()); // followed by the system's description

        // With no file open the readers report the end and log nothing.
        QVERIFY(!f.file.ReadRawLogRecord());
        QVERIFY(f.file.endOfInput());
        QVERIFY(!f.file.ReadMultiPartRecord());
        QVERIFY(f.file.endOfInput());
        QVERIFY(f.takeLog().isEmpty());
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
        QVERIFY(log[0].startsWith(kUnableToOpen));
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
        QCOMPARE(log[0], kClose + name);
        QVERIFY(log[1].startsWith(kUnableToOpen));
        QVERIFY(!f.file.isOpen());
        QVERIFY(!f.file.ReadRawLogRecord());
        QVERIFY(f.file.endOfInput());
        QVERIFY(f.takeLog().isEmpty());
    }

    // At the end the file is closed and opened again: the next read gets its first line.
    void hundredThousandLinesThenStartAgain() {
        DataFileFixture f;
        QByteArray content;
        for (int i = 0; i < 100'000; ++i)
            content +=
                "2024-05-01\t10:00:00\tRX\t3|" + QByteArray::number(1'200'000 + i) + "|x\r\n";
        const QString name = f.write(QStringLiteral("many.x01"), content);
        f.file.OpenDataFile(name);
        int records = 0;
        while (f.file.ReadRawLogRecord())
            ++records;
        QCOMPARE(records, 100'000);
        QVERIFY(f.file.endOfInput());
        QCOMPARE(f.logLines, QStringList({kOpen + name, kClose + name, kOpen + name}));
        QCOMPARE(f.shownNames, QStringList({name, name}));
        QCOMPARE(f.file.gDataRecord, QByteArray("3|1299999|x"));
        QVERIFY(f.file.ReadRawLogRecord());
        QVERIFY(!f.file.endOfInput());
        QCOMPARE(f.file.gDataRecord, QByteArray("3|1200000|x"));
    }

    // Every record of the sample is a valid sendable body, of every MOLI shape.
    void rawLogSampleIsAllValid() {
        DataFileFixture f;
        const QString name = sample("ipnd3.x01");
        f.file.OpenDataFile(name);
        int records = 0;
        QSet<char> shapes;
        while (f.file.ReadRawLogRecord()) {
            const QByteArray body = f.file.gDataRecord;
            const Type4Check check = checkType4Body(body);
            QVERIFY2(check.ok,
                     qPrintable(QStringLiteral("record %1: ").arg(++records) + check.reason));
            QVERIFY(IpndDataFile::isSendable(body));
            QVERIFY(checkType4Frame(frameFileRecord(body)).ok);
            if (check.moliFields > 0)
                shapes.insert(body.split('|').at(kIpndFieldCount + kMoliShapeField).front());
        }
        QVERIFY(f.file.endOfInput());
        QVERIFY(records >= 24);
        QCOMPARE(shapes, QSet<char>({'O', 'C', 'A', 'P', 'E', 'N'}));
        QCOMPARE(f.logLines, QStringList({kOpen + name, kClose + name, kOpen + name}));
    }

    // Each kind of refusal once, then an 8-character body and a valid one.
    void refusalsSample() {
        DataFileFixture f;
        f.file.OpenDataFile(sample("refusals.x01"));
        QByteArray results;
        for (bool ok = f.file.ReadRawLogRecord(); !f.file.endOfInput();
             ok = f.file.ReadRawLogRecord())
            results += ok ? 'T' : 'F';
        QCOMPARE(results, QByteArray("FFFFFFTT"));
        QVERIFY(checkType4Body(f.file.gDataRecord).ok);
        QCOMPARE(f.logLines.size(), 1 + 3 + 2); // three refusals are logged
    }
};

QTEST_GUILESS_MAIN(TestRawLogReader)
#include "tst_rawlogreader.moc"
