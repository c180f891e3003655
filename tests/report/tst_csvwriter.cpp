#include "csvwriter.h"
#include "testtext.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

class tst_CsvWriter : public QObject {
    Q_OBJECT
private slots:
    void rowsAsRfc4180Has_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("row");
        QTest::newRow("plain") << texts({"a", "b c", ""}) << QByteArray("a,b c,\r\n");
        QTest::newRow("comma") << texts({"x,y", "z"}) << QByteArray("\"x,y\",z\r\n");
        QTest::newRow("quote doubled")
            << texts({"say \"ACK\""}) << QByteArray("\"say \"\"ACK\"\"\"\r\n");
        QTest::newRow("line ends")
            << texts({"a\r\nb", "c\n"}) << QByteArray("\"a\r\nb\",\"c\n\"\r\n");
    }

    void rowsAsRfc4180Has() {
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, row);
        QCOMPARE(CsvWriter::row(fields), row);
    }

    void eachRowIsOnDiskOnceWritten() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.csv"));
        CsvWriter writer;
        QString error;
        QVERIFY(writer.open(path, {QStringLiteral("h1"), QStringLiteral("h2")}, &error));
        writer.writeRow({QStringLiteral("1"), QStringLiteral("2")});
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("h1,h2\r\n1,2\r\n"));
        CsvWriter folder;
        QVERIFY(!folder.open(dir.path(), {}, &error));
        QVERIFY(!error.isEmpty());
    }

    void isoTimeKeepsItsOffset_data() {
        QTest::addColumn<int>("offsetS");
        QTest::addColumn<QString>("text");
        QTest::newRow("east") << 11 * 3600 << QStringLiteral("2026-12-06T20:15:07.204+11:00");
        QTest::newRow("west") << -(3 * 3600 + 1800)
                              << QStringLiteral("2026-12-06T20:15:07.204-03:30");
    }

    void isoTimeKeepsItsOffset() {
        QFETCH(int, offsetS);
        QFETCH(QString, text);
        const QDateTime when(QDate(2026, 12, 6), QTime(20, 15, 7, 204), QTimeZone(offsetS));
        QCOMPARE(isoTimeWithOffset(when), text);
    }

    void answersMadePrintable() {
        QCOMPARE(printableBytes("\2\6\3ACK\xff", 40), QStringLiteral("<02><06><03>ACK<FF>"));
        QCOMPARE(printableBytes(QByteArray(100, 'x'), 40), QString(40, u'x'));
    }
};

QTEST_GUILESS_MAIN(tst_CsvWriter)
#include "tst_csvwriter.moc"
