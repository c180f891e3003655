#include "amllayout.h"
#include "log.h"
#include "xmllinestore.h"
#include "xmlrestamp.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QDateTime kMarch5(QDate(2024, 3, 5), QTime(21, 4, 5));
const QString kEndOfFile = QStringLiteral("log:End of File");

// A store whose collaborators write what happens into one event list; its
// clock advances a second at each reading.
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
        return QList<QByteArray>(store.gXmlLines.begin(),
                                 store.gXmlLines.begin() + store.gXmlLineCount);
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

    QTemporaryDir m_dir;

    QString writeFile(const QByteArray &content, const QString &name = QStringLiteral("data.xml")) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void load_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<bool>("complete"); // "End of File" rather than the error line
        using L = QList<QByteArray>;
        const L abc{"a", "b", "c"};
        QTest::newRow("LF") << QByteArray("a\nb\nc\n") << abc << true;
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\nc\r\n") << abc << true;
        QTest::newRow("CR") << QByteArray("a\rb\rc\r") << abc << true;
        QTest::newRow("no final line break") << QByteArray("a\nb\nc") << abc << true;
        QTest::newRow("blank line inside") << QByteArray("a\n\nc\n") << L{"a", "", "c"} << true;
        QTest::newRow("one empty line") << QByteArray("\n") << L{""} << true;
        QTest::newRow("empty file") << QByteArray() << L{} << false;
        QTest::newRow("stamps restamped")
            << QByteArray("<Date_Sent>2019-11-04</Date_Sent>\n  <Time_Sent>1</Time_Sent>\n")
            << L{"<Date_Sent>2024-03-05</Date_Sent>", "  <Time_Sent>1</Time_Sent>"} << true;
        const L lines501 = numberedLines(501);
        QTest::newRow("501 lines") << lines501.join('\n') << lines501 << true;
        QTest::newRow("501 lines and a break") << lines501.join('\n') + '\n' << lines501 << true;
        QTest::newRow("502 lines") << numberedLines(502).join('\n') << lines501 << false;
    }

    void load() {
        QFETCH(QByteArray, content);
        QFETCH(QList<QByteArray>, lines);
        QFETCH(bool, complete);
        const QString path = writeFile(content);
        Harness h;
        h.store.OpenXMLFile(path);
        QCOMPARE(h.loadedLines(), lines);
        QCOMPARE(h.events, loadEvents(lines, complete ? kEndOfFile : errorLine(path)));
        QVERIFY(!h.store.isLoading());
    }

    void missingFileKeepsPreviousLoad_data() {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("missing") << QStringLiteral("no-such-file.xml");
        QTest::newRow("dialog cancelled") << QStringLiteral(".\\*.xml");
        QTest::newRow("empty name") << QString();
    }

    void missingFileKeepsPreviousLoad() {
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

    void logReadsNewestFirst() {
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

    void sendDuringLoad() {
        Harness h;
        QList<QByteArray> packets;
        h.store.yield = [&] {
            packets << nextType5Packet(QByteArray(), h.store);
            QVERIFY(h.store.isLoading());
        };
        h.store.OpenXMLFile(writeFile("a\nb\nc\n"));
        // The first yield comes before the count is reset: still the canned document.
        QCOMPARE(packets, (QList<QByteArray>{cannedAmlDocument(), "a", "ab", "abc"}));
    }

    void newerLoadWins() {
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
        // The first load logs nothing more.
        QCOMPARE(h.events,
                 loadEvents({"a"}, QString()).mid(0, 5) + loadEvents({"x", "y"}, kEndOfFile));
        QVERIFY(!h.store.isLoading());
    }

    // Loaded, restamped and joined, the sample and the canned document pass
    // the receiver's check; only the stamped lines read the clock, each afresh.
    void loadedDocumentPassesTheCheck_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("lineCount");
        QTest::newRow("sample") << QStringLiteral(TALVGEN_SOURCE_DIR "/samples/aml.xml") << 122;
        QTest::newRow("canned") << QString() << 116;
    }

    void loadedDocumentPassesTheCheck() {
        QFETCH(QString, path);
        QFETCH(int, lineCount);
        Harness h;
        h.store.OpenXMLFile(path.isEmpty() ? writeFile(cannedAmlDocument()) : path);
        QCOMPARE(h.store.gXmlLineCount, lineCount);
        QCOMPARE(h.events.last(), kEndOfFile);
        const QByteArray packet = nextType5Packet(QByteArray(), h.store);
        QVERIFY(!packet.contains('\r') && !packet.contains('\n'));
        const AmlCheck check = checkAmlDocument(packet);
        QVERIFY2(check.ok, qPrintable(check.reason));
        QVERIFY(
            packet.contains("<Date_Sent>2024-03-05</Date_Sent><Time_Sent>21:04:06</Time_Sent>"));
        QVERIFY(packet.contains(
            "<AML_Time_of_Positioning_TOP>2024-03-05 21:04:07</AML_Time_of_Positioning_TOP>"));
    }

    void nextPacket_data() {
        QTest::addColumn<QList<QByteArray>>("files"); // loaded one after the other
        QTest::addColumn<int>("presses");
        QTest::addColumn<QByteArray>("pendingBefore");
        QTest::addColumn<QByteArray>("pending");
        using L = QList<QByteArray>;
        const QByteArray canned = cannedAmlDocument();
        QTest::newRow("no load, one press") << L{} << 1 << QByteArray() << canned;
        QTest::newRow("no load, two presses") << L{} << 2 << QByteArray() << canned;
        QTest::newRow("no load replaces pending") << L{} << 1 << QByteArray("old") << canned;
        QTest::newRow("loaded, one press")
            << L{"a\nb\nc\n"} << 1 << QByteArray() << QByteArray("abc");
        QTest::newRow("loaded, two presses")
            << L{"a\r\nb\r\nc"} << 2 << QByteArray() << QByteArray("abcabc");
        QTest::newRow("loaded, added to pending")
            << L{"a\nb\nc\n"} << 1 << QByteArray("old") << QByteArray("oldabc");
        QTest::newRow("shorter file after a longer")
            << L{"a\nb\nc\n", "z\n"} << 1 << QByteArray() << QByteArray("z");
    }

    void nextPacket() {
        QFETCH(QList<QByteArray>, files);
        QFETCH(int, presses);
        QFETCH(QByteArray, pendingBefore);
        QFETCH(QByteArray, pending);
        Harness h;
        for (qsizetype i = 0; i < files.size(); ++i)
            h.store.OpenXMLFile(writeFile(files[i], QStringLiteral("%1.xml").arg(i)));
        QByteArray slot = pendingBefore;
        for (int i = 0; i < presses; ++i)
            slot = nextType5Packet(slot, h.store);
        QCOMPARE(slot, pending);
    }

    // Only a line that begins exactly with one of the three stamps is
    // replaced whole; the rest of it is dropped.
    void restamp_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QByteArray>("expected");

        const QDateTime march5(QDate(2024, 3, 5), QTime(21, 4, 5));
        const QDateTime newYear(QDate(2025, 1, 2), QTime(0, 0, 0));
        const auto row = [](const char *name, const QByteArray &line, const QDateTime &now,
                            const QByteArray &expected) {
            QTest::newRow(name) << line << now << expected;
        };

        row("date", "<Date_Sent>2019-11-04</Date_Sent>", march5,
            "<Date_Sent>2024-03-05</Date_Sent>");
        row("time, 24-hour", "<Time_Sent>13:40:06</Time_Sent>", march5,
            "<Time_Sent>21:04:05</Time_Sent>");
        row("time at midnight", "<Time_Sent>13:40:06</Time_Sent>", newYear,
            "<Time_Sent>00:00:00</Time_Sent>");
        row("date-time",
            "<AML_Time_of_Positioning_TOP>2018-07-17 17:53:29</AML_Time_of_Positioning_TOP>",
            march5,
            "<AML_Time_of_Positioning_TOP>2024-03-05 21:04:05</AML_Time_of_Positioning_TOP>");
        row("start tag alone", "<Time_Sent>", march5, "<Time_Sent>21:04:05</Time_Sent>");
        row("rest dropped", "<Time_Sent>13:40:06</Time_Sent><X>y</X>", march5,
            "<Time_Sent>21:04:05</Time_Sent>");

        // Any other line is kept as it is.
        const auto kept = [&](const char *name, const QByteArray &line) {
            row(name, line, march5, line);
        };
        kept("indented by spaces", "  <Time_Sent>13:40:06</Time_Sent>");
        kept("indented by a tab", "\t<Date_Sent>2019-11-04</Date_Sent>");
        kept("wrong case", "<time_sent>13:40:06</time_sent>");
        kept("longer name", "<Date_Sent_UTC>2019-11-04</Date_Sent_UTC>");
        kept("tag unfinished", "<Date_Sent");
        kept("stamp later in line", "<ESAP_Data><Date_Sent>2019-11-04</Date_Sent>");
        kept("other element", "<Transaction_Date>2010-07-17 17:53:29</Transaction_Date>");
    }

    void restamp() {
        QFETCH(QByteArray, line);
        QFETCH(QDateTime, now);
        QFETCH(QByteArray, expected);
        QCOMPARE(restampXmlLine(line, now), expected);
        QCOMPARE(isRestampedXmlLine(line), expected != line);
    }
};

QTEST_GUILESS_MAIN(TestXmlLineStore)
#include "tst_xmllinestore.moc"
