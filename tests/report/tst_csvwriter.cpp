// SPDX-License-Identifier: GPL-3.0-or-later
#include "csvwriter.h"
#include "testtext.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace Qt::Literals::StringLiterals;

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
        const QString path = dir.filePath(u"t.csv"_s);
        CsvWriter writer;
        QString error;
        QVERIFY(writer.open(path, {u"h1"_s, u"h2"_s}, &error));
        writer.writeRow({u"1"_s, u"2"_s});
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
        QTest::newRow("east") << 11 * 3600 << u"2026-12-06T20:15:07.204+11:00"_s;
        QTest::newRow("west") << -(3 * 3600 + 1800) << u"2026-12-06T20:15:07.204-03:30"_s;
    }

    void isoTimeKeepsItsOffset() {
        QFETCH(int, offsetS);
        QFETCH(QString, text);
        const QDateTime when(QDate(2026, 12, 6), QTime(20, 15, 7, 204), QTimeZone(offsetS));
        QCOMPARE(isoTimeWithOffset(when), text);
    }

    void answersMadePrintable() {
        QCOMPARE(printableBytes("\2\6\3ACK\xff", 40), u"<02><06><03>ACK<FF>"_s);
        QCOMPARE(printableBytes(QByteArray(100, 'x'), 40), QString(40, u'x'));
    }
};

QTEST_GUILESS_MAIN(tst_CsvWriter)
#include "tst_csvwriter.moc"
