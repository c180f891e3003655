// SPDX-License-Identifier: GPL-3.0-or-later
#include "csvwriter.h"
#include "reportfiles.h"
#include "testtext.h"

#include <QDateTime>
#include <QFileInfo>
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

    // Made before the run: the CSV's header on disk, an empty JUnit report; a folder in
    // either place stops the run with the name of the file that could not be made.
    void reportFilesMadeFirst_data() {
        QTest::addColumn<QString>("csv"); // "@" for the folder itself
        QTest::addColumn<QString>("junit");
        QTest::addColumn<QString>("problem");
        QTest::newRow("none asked for") << QString() << QString() << QString();
        QTest::newRow("both") << u"t.csv"_s << u"t.xml"_s << QString();
        QTest::newRow("the CSV a folder") << u"@"_s << u"t.xml"_s << u"cannot create @: "_s;
        QTest::newRow("the JUnit report a folder")
            << u"t.csv"_s << u"@"_s << u"cannot create @: "_s;
    }

    void reportFilesMadeFirst() {
        QFETCH(QString, csv);
        QFETCH(QString, junit);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        const auto place = [&dir](const QString &name) {
            return name.isEmpty() ? name : name == u"@"_s ? dir.path() : dir.filePath(name);
        };
        CsvWriter writer;
        QString error;
        const bool made =
            createReportFiles(writer, place(csv), {u"h1"_s, u"h2"_s}, place(junit), &error);
        QCOMPARE(made, problem.isEmpty());
        const QString named = QString(problem).replace(u"@"_s, dir.path());
        QVERIFY2(error.startsWith(named), qPrintable(error));
        QVERIFY(made ? error.isEmpty() : error.size() > named.size()); // and why
        if (made && !csv.isEmpty()) {
            QFile file(place(csv));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("h1,h2\r\n"));
            QVERIFY(QFileInfo(place(junit)).isFile());
        }
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
