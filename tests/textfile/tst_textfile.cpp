// SPDX-License-Identifier: GPL-3.0-or-later
// The text-file reader as the data files and the XML files meet it: where its
// lines end, and which file a name written with backslashes opens.
#include "textlinereader.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

using Lines = QList<QByteArray>;

class TestTextFile : public QObject {
    Q_OBJECT

private slots:
    void lineEnds_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Lines>("lines");
        QTest::newRow("empty file") << QByteArray() << Lines{};
        QTest::newRow("LF, CR and CR LF; the last line unended")
            << QByteArray("a\nb\rc\r\nd") << Lines{"a", "b", "c", "d"};
        QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << Lines{"a", "", "b"};
        QTest::newRow("NUL kept") << QByteArray("x\0y\n", 4) << Lines{QByteArray("x\0y", 3)};
        const QByteArray fill(64 * 1024 - 1,
                              'a'); // the CR last of a read, the LF first of the next
        QTest::newRow("CR LF split across reads") << fill + "\r\nb" << Lines{fill, "b"};
    }

    void lineEnds() {
        QFETCH(QByteArray, content);
        QFETCH(Lines, lines);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"lines.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        TextLineReader reader;
        QVERIFY(reader.open(file.fileName()));
        Lines read;
        QByteArray line;
        while (read.size() <= lines.size() && reader.readLine(line) == TextLineReader::Result::Line)
            read << line;
        QCOMPARE(read, lines);
        QCOMPARE(reader.readLine(line), TextLineReader::Result::EndOfFile);
        QCOMPARE(reader.lineNumber(), qint64(lines.size()));
    }

    // A name is tried as written first; only a name that does not exist has its
    // backslashes read as folder separators (the runner's tests read one so).
    // "/" in a file's name here is a folder.
    void fileNames_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QByteArray>("opened"); // the first line of the file opened
        QTest::newRow("backslash as written")
            << QStringList{u"back/slash.x01"_s, u"back\\slash.x01"_s} << u"back\\slash.x01"_s
            << QByteArray("back\\slash.x01");
        QTest::newRow("backslash as a separator")
            << QStringList{u"sub/only.x01"_s} << u"sub\\only.x01"_s << QByteArray("sub/only.x01");
    }

    void fileNames() {
        QFETCH(QStringList, files);
        QFETCH(QString, written);
        QFETCH(QByteArray, opened);
        QTemporaryDir dir;
        for (const QString &name : files) {
            QDir(dir.path()).mkpath(QFileInfo(dir.filePath(name)).path());
            QFile out(dir.filePath(name));
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(name.toLatin1()); // on Windows the second overwrites the first
        }
        TextLineReader reader;
        QVERIFY2(reader.open(dir.filePath(written)), qPrintable(reader.errorString()));
        QByteArray line;
        QCOMPARE(reader.readLine(line), TextLineReader::Result::Line);
        QCOMPARE(line, opened);
        QCOMPARE(TextLineReader::whyUnreadable(dir.filePath(written)), QString());
    }
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
