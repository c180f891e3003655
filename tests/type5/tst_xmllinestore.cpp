#include "amllayout.h"
#include "log.h"
#include "xmllinestore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QDateTime kMarch5(QDate(2024, 3, 5), QTime(21, 4, 5));

// A store whose collaborators write what happens into one event list.
struct Harness {
    XmlLineStore store;
    QStringList events;
    int clockReadings = 0;

    Harness() {
        store.log = [this](const QString &message) {
            events << QStringLiteral("log:") + message;
        };
        store.clearLog = [this] {
            events << QStringLiteral("clear");
        };
        store.yield = [this] {
            events << QStringLiteral("yield");
        };
        store.clock = [this] {
            return kMarch5.addSecs(clockReadings++);
        };
    }

    QList<QByteArray> loadedLines() const {
        QList<QByteArray> lines;
        for (int i = 0; i < store.gXmlLineCount; ++i)
            lines << store.gXmlLines.at(i);
        return lines;
    }
};

QString errorLine(const QString &fileName) {
    return QStringLiteral("log:ERROR on File search on file name ") + fileName;
}

// What a load logs and yields, given the lines it stores and its last line.
QStringList loadEvents(const QList<QByteArray> &lines, const QString &last) {
    QStringList events{QStringLiteral("clear"), QStringLiteral("log:Getting File"),
                       QStringLiteral("yield")};
    for (const QByteArray &line : lines)
        events << QStringLiteral("log:") + QString::fromLatin1(line) << QStringLiteral("yield");
    events << last;
    return events;
}

QList<QByteArray> numberedLines(int count) {
    QList<QByteArray> lines;
    for (int i = 1; i <= count; ++i)
        lines << "<L>" + QByteArray::number(i) + "</L>";
    return lines;
}

} // namespace

class TestXmlLineStore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void load_data();
    void load();
    void missingFileKeepsPreviousLoad_data();
    void missingFileKeepsPreviousLoad();
    void shorterFileAfterLonger();
    void oddFiles_data();
    void oddFiles();
    void clockReadAfreshForEachStampedLine();
    void logReadsNewestFirst();
    void sendDuringLoad();
    void newerLoadWins();
    void samplePassesCheckAfterLoad_data();
    void samplePassesCheckAfterLoad();
    void nextPacket_data();
    void nextPacket();

private:
    QString writeFile(const QByteArray &content, const QString &name = QStringLiteral("data.xml"));

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestXmlLineStore::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestXmlLineStore::writeFile(const QByteArray &content, const QString &name) {
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestXmlLineStore::load_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<bool>("complete"); // "End of File" rather than the error line

    const QList<QByteArray> abc{"a", "b", "c"};
    QTest::newRow("LF") << QByteArray("a\nb\nc\n") << abc << true;
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\nc\r\n") << abc << true;
    QTest::newRow("CR") << QByteArray("a\rb\rc\r") << abc << true;
    QTest::newRow("no final line break") << QByteArray("a\nb\nc") << abc << true;
    QTest::newRow("blank line inside")
        << QByteArray("a\n\nc\n") << QList<QByteArray>{"a", "", "c"} << true;
    QTest::newRow("one empty line") << QByteArray("\n") << QList<QByteArray>{""} << true;
    QTest::newRow("empty file") << QByteArray() << QList<QByteArray>{} << false;
    QTest::newRow("stamps restamped")
        << QByteArray("<Date_Sent>2019-11-04</Date_Sent>\n  <Time_Sent>1</Time_Sent>\n")
        << QList<QByteArray>{"<Date_Sent>2024-03-05</Date_Sent>", "  <Time_Sent>1</Time_Sent>"}
        << true;

    const QList<QByteArray> lines501 = numberedLines(501);
    QTest::newRow("501 lines") << lines501.join('\n') << lines501 << true;
    QTest::newRow("501 lines and a break") << lines501.join('\n') + '\n' << lines501 << true;
    QTest::newRow("502 lines") << numberedLines(502).join('\n') << lines501 << false;
}

void TestXmlLineStore::load() {
    QFETCH(QByteArray, content);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(bool, complete);
    const QString path = writeFile(content);
    Harness h;
    h.store.OpenXMLFile(path);
    QCOMPARE(h.store.gXmlLineCount, lines.size());
    QCOMPARE(h.loadedLines(), lines);
    QCOMPARE(h.events,
             loadEvents(lines, complete ? QStringLiteral("log:End of File") : errorLine(path)));
    QVERIFY(!h.store.isLoading());
}

void TestXmlLineStore::missingFileKeepsPreviousLoad_data() {
    QTest::addColumn<QString>("fileName");
    QTest::newRow("missing") << QStringLiteral("no-such-file.xml");
    QTest::newRow("dialog cancelled") << QStringLiteral(".\\*.xml");
    QTest::newRow("empty name") << QString();
}

void TestXmlLineStore::missingFileKeepsPreviousLoad() {
    QFETCH(QString, fileName);
    Harness h;
    h.store.OpenXMLFile(writeFile("a\nb\n"));
    h.events.clear();
    if (fileName.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, "QFSFileEngine::open: No file name specified");
    h.store.OpenXMLFile(fileName);
    QCOMPARE(h.events, QStringList{errorLine(fileName)}); // the log is not cleared
    QCOMPARE(h.loadedLines(), (QList<QByteArray>{"a", "b"}));
}

void TestXmlLineStore::shorterFileAfterLonger() {
    Harness h;
    h.store.OpenXMLFile(writeFile("a\nb\nc\n"));
    h.store.OpenXMLFile(writeFile("z\n", QStringLiteral("short.xml")));
    QCOMPARE(h.store.gXmlLineCount, 1);
    QCOMPARE(nextType5Packet(QByteArray(), h.store), QByteArray("z"));
}

void TestXmlLineStore::oddFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("secondLine");
    QTest::addColumn<bool>("complete");
    QByteArray bytes; // every byte but the line ends
    for (int i = 0; i < 256; ++i) {
        if (i != '\r' && i != '\n')
            bytes.append(char(i));
    }
    const QByteArray megabyte(1024 * 1024, 'x');
    QTest::newRow("binary") << bytes + "\r\n" + bytes << 2 << bytes << true;
    QTest::newRow("1 MB line") << "<A>\n" + megabyte + "\n</A>\n" << 3 << megabyte << true;
    QTest::newRow("a million lines") << QByteArray("ab\n").repeated(1000 * 1000)
                                     << int(XmlLineStore::kMaxLines) << QByteArray("ab") << false;
}

void TestXmlLineStore::oddFiles() {
    QFETCH(QByteArray, content);
    QFETCH(int, count);
    QFETCH(QByteArray, secondLine);
    QFETCH(bool, complete);
    const QString path = writeFile(content);
    Harness h;
    h.store.OpenXMLFile(path);
    QCOMPARE(h.store.gXmlLineCount, count);
    QCOMPARE(h.store.gXmlLines.at(1), secondLine);
    QCOMPARE(h.events.at(5), QStringLiteral("log:") + QString::fromLatin1(secondLine));
    QCOMPARE(h.events.size(), 3 + 2 * count + 1);
    QCOMPARE(h.events.last(), complete ? QStringLiteral("log:End of File") : errorLine(path));
}

void TestXmlLineStore::clockReadAfreshForEachStampedLine() {
    Harness h;
    const QDateTime lastSecond(QDate(2024, 3, 5), QTime(23, 59, 59));
    h.store.clock = [&] {
        return lastSecond.addSecs(h.clockReadings++);
    };
    h.store.OpenXMLFile(
        writeFile("<Date_Sent>x</Date_Sent>\n<Other>1</Other>\n"
                  "<Time_Sent>x</Time_Sent>\n"
                  "<AML_Time_of_Positioning_TOP>x</AML_Time_of_Positioning_TOP>\n"));
    QCOMPARE(
        h.loadedLines(),
        (QList<QByteArray>{
            "<Date_Sent>2024-03-05</Date_Sent>", "<Other>1</Other>",
            "<Time_Sent>00:00:00</Time_Sent>",
            "<AML_Time_of_Positioning_TOP>2024-03-06 00:00:01</AML_Time_of_Positioning_TOP>"}));
    QCOMPARE(h.clockReadings, 3); // only the stamped lines read it
}

void TestXmlLineStore::logReadsNewestFirst() {
    Log log;
    XmlLineStore store;
    store.log = [&log](const QString &message) {
        log.LogMessage(message);
    };
    store.clearLog = [&log] {
        log.ClearLog();
    };
    log.LogMessage(QStringLiteral("Open LOG file: data.xml"));
    store.OpenXMLFile(writeFile("a\nb\nc\n"));
    QCOMPARE(log.shownText(), QStringLiteral("End of File\r\nc\r\nb\r\na\r\nGetting File\r\n"));
}

void TestXmlLineStore::sendDuringLoad() {
    Harness h;
    QList<QByteArray> packets;
    h.store.yield = [&] {
        packets << nextType5Packet(QByteArray(), h.store);
        QVERIFY(h.store.isLoading());
    };
    h.store.OpenXMLFile(writeFile("a\nb\nc\n"));
    // The first yield comes before the count is reset: still the canned document.
    QCOMPARE(packets, (QList<QByteArray>{cannedAmlDocument(), QByteArray("a"), QByteArray("ab"),
                                         QByteArray("abc")}));
}

void TestXmlLineStore::newerLoadWins() {
    Harness h;
    const QString first = writeFile("a\nb\nc\n");
    const QString second = writeFile("x\ny\n", QStringLiteral("second.xml"));
    int yields = 0;
    h.store.yield = [&] {
        h.events << QStringLiteral("yield");
        if (++yields == 2) // after the first file's first line
            h.store.OpenXMLFile(second);
    };
    h.store.OpenXMLFile(first);
    QCOMPARE(h.loadedLines(), (QList<QByteArray>{"x", "y"}));
    QStringList expected = loadEvents({"a"}, QString());
    expected.removeLast();
    expected += loadEvents({"x", "y"}, QStringLiteral("log:End of File"));
    QCOMPARE(h.events, expected); // the first load logs nothing more
    QVERIFY(!h.store.isLoading());
}

void TestXmlLineStore::samplePassesCheckAfterLoad_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("lineCount");
    QTest::newRow("sample") << QStringLiteral(TALVGEN_SOURCE_DIR "/samples/aml.xml") << 122;
    QTest::newRow("canned") << QString() << 116;
}

void TestXmlLineStore::samplePassesCheckAfterLoad() {
    QFETCH(QString, path);
    QFETCH(int, lineCount);
    if (path.isEmpty())
        path = writeFile(cannedAmlDocument());
    Harness h;
    h.store.OpenXMLFile(path);
    QCOMPARE(h.store.gXmlLineCount, lineCount);
    QCOMPARE(h.events.last(), QStringLiteral("log:End of File"));
    const QByteArray packet = nextType5Packet(QByteArray(), h.store);
    QVERIFY(!packet.contains('\r') && !packet.contains('\n'));
    const AmlCheck check = checkAmlDocument(packet);
    QVERIFY2(check.ok, qPrintable(check.reason));
    QVERIFY(packet.contains("<Date_Sent>2024-03-05</Date_Sent>"));
    // The harness clock advances a second at each reading.
    QVERIFY(packet.contains("<Time_Sent>21:04:06</Time_Sent>"));
    QVERIFY(packet.contains(
        "<AML_Time_of_Positioning_TOP>2024-03-05 21:04:07</AML_Time_of_Positioning_TOP>"));
}

void TestXmlLineStore::nextPacket_data() {
    QTest::addColumn<QByteArray>("file"); // empty: nothing loaded
    QTest::addColumn<int>("presses");
    QTest::addColumn<QByteArray>("pendingBefore");
    QTest::addColumn<QByteArray>("pending");
    const QByteArray canned = cannedAmlDocument();
    QTest::newRow("no load, one press") << QByteArray() << 1 << QByteArray() << canned;
    QTest::newRow("no load, two presses") << QByteArray() << 2 << QByteArray() << canned;
    QTest::newRow("no load replaces pending") << QByteArray() << 1 << QByteArray("old") << canned;
    QTest::newRow("loaded, one press")
        << QByteArray("a\nb\nc\n") << 1 << QByteArray() << QByteArray("abc");
    QTest::newRow("loaded, two presses")
        << QByteArray("a\r\nb\r\nc") << 2 << QByteArray() << QByteArray("abcabc");
    QTest::newRow("loaded, added to pending")
        << QByteArray("a\nb\nc\n") << 1 << QByteArray("old") << QByteArray("oldabc");
}

void TestXmlLineStore::nextPacket() {
    QFETCH(QByteArray, file);
    QFETCH(int, presses);
    QFETCH(QByteArray, pendingBefore);
    QFETCH(QByteArray, pending);
    Harness h;
    if (!file.isEmpty())
        h.store.OpenXMLFile(writeFile(file));
    QByteArray slot = pendingBefore;
    for (int i = 0; i < presses; ++i)
        slot = nextType5Packet(slot, h.store);
    QCOMPARE(slot, pending);
}

QTEST_GUILESS_MAIN(TestXmlLineStore)
#include "tst_xmllinestore.moc"
