#include "datafilefixture.h"
#include "textlinereader.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

constexpr qsizetype kChunk = 64 * 1024; // the reader's read size

// The plain meaning of the line rules, for checking the chunked reader.
QList<QByteArray> referenceLines(QByteArray content) {
    QList<QByteArray> lines = content.replace("\r\n", "\n").replace('\r', '\n').split('\n');
    if (lines.last().isEmpty())
        lines.removeLast(); // the end of the last line, or an empty file
    return lines;
}

} // namespace

class TestTextLineReader : public QObject {
    Q_OBJECT

private:
    DataFileFixture m_files; // for its scratch folder

    QString write(const QByteArray &content) {
        return m_files.write(QStringLiteral("lines.x01"), content);
    }

    QList<QByteArray> readAll(const QString &name) {
        TextLineReader reader;
        if (!reader.open(name))
            return {QByteArrayLiteral("<open failed>")};
        QList<QByteArray> lines;
        QByteArray line;
        while (reader.readLine(line) == TextLineReader::Result::Line)
            lines << line;
        return lines;
    }

private slots:
    void lines_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<QByteArray>>("expected");
        using L = QList<QByteArray>;
        QTest::newRow("empty file") << QByteArray() << L{};
        QTest::newRow("LF") << QByteArray("a\nb\n") << L{"a", "b"};
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << L{"a", "b"};
        QTest::newRow("CR only") << QByteArray("a\rb\rc") << L{"a", "b", "c"};
        QTest::newRow("last line without terminator") << QByteArray("a\r\nlast") << L{"a", "last"};
        QTest::newRow("empty lines") << QByteArray("\r\n\r\nx\n\n") << L{"", "", "x", ""};
        QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << L{"a", "", "b"};
        QTest::newRow("lone CR at end") << QByteArray("a\r") << L{"a"};
        QTest::newRow("NUL kept") << QByteArray("a\0b\n", 4) << L{QByteArray("a\0b", 3)};
        const QByteArray fill(kChunk - 1, 'a');
        QTest::newRow("CR LF split across chunks") << fill + "\r\nb" << L{fill, "b"};
        QTest::newRow("CR at chunk end, no LF") << fill + "\rb\n" << L{fill, "b"};
        QTest::newRow("CR as first byte of a chunk")
            << QByteArray(kChunk, 'c') + "\r\nz" << L{QByteArray(kChunk, 'c'), "z"};
        const QByteArray mega(1024 * 1024, 'm');
        QTest::newRow("1 MB line") << "x\r\n" + mega + "\r\ny" << L{"x", mega, "y"};
        const QByteArray binary = pseudoRandomBytes(3 * kChunk + 17);
        QTest::newRow("binary") << binary << referenceLines(binary);
    }

    void lines() {
        QFETCH(QByteArray, content);
        QFETCH(QList<QByteArray>, expected);
        QCOMPARE(readAll(write(content)), expected);
    }

    void overlongLineIsCut() {
        const QByteArray content = QByteArray(TextLineReader::kMaxLineBytes + 1000, 'L') + "\nnext";
        const QList<QByteArray> lines = readAll(write(content));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].size(), TextLineReader::kMaxLineBytes);
        QCOMPARE(lines[1], QByteArray("next"));
    }

    void endThenEndAgain() {
        TextLineReader reader;
        QVERIFY(reader.open(write("one\r\n")));
        QByteArray line;
        QCOMPARE(reader.readLine(line), TextLineReader::Result::Line);
        QVERIFY(reader.atEnd());
        QCOMPARE(reader.readLine(line), TextLineReader::Result::EndOfFile);
        QCOMPARE(reader.readLine(line), TextLineReader::Result::EndOfFile);
        QVERIFY(line.isEmpty());
        reader.close();
        QCOMPARE(reader.readLine(line), TextLineReader::Result::Error);
    }

    void fifoIsRefusedWithoutWaiting() {
#ifdef Q_OS_UNIX
        const QString fifo = m_files.path(QStringLiteral("fifo.x01"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        TextLineReader reader;
        QVERIFY(!reader.open(fifo)); // would block here if it tried to open it
        QVERIFY(!reader.errorString().isEmpty());
#else
        QSKIP("no FIFOs here");
#endif
    }

    void backslashIsAFolderSeparator() {
        QCOMPARE(TextLineReader::toFileSystemPath(QStringLiteral(".\\a\\b.x01")),
                 QStringLiteral("./a/b.x01"));
    }
};

QTEST_GUILESS_MAIN(TestTextLineReader)
#include "tst_textlinereader.moc"
