#include "amllayout.h"
#include "xmllinestore.h"
#include "xmlrestamp.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Type 5 documents as the wire and the log see them: the canned document, the
// receiver's checker and splitter, the XML file load and what Send leaves pending.
namespace {

using Lines = QList<QByteArray>;

const QDateTime kMarch5(QDate(2024, 3, 5), QTime(21, 4, 5));

QByteArray replaced(QByteArray text, const QByteArray &before, const QByteArray &after) {
    Q_ASSERT(text.contains(before));
    return text.replace(before, after);
}

// A loaded file is sent as its lines joined without line breaks.
QByteArray joinedLines(QByteArray text) {
    return text.replace("\r\n", "").replace('\n', "");
}

// A store whose log, clears and yields go into one event list; its clock
// advances a second at each reading.
struct Store {
    QTemporaryDir dir;
    XmlLineStore store;
    QStringList events;
    int clockReadings = 0;

    Store() {
        store.log = [this](const QString &line) {
            events << line;
        };
        store.clearLog = [this] {
            events << QStringLiteral("<clear>");
        };
        store.yield = [this] {
            events << QStringLiteral("<yield>");
        };
        store.clock = [this] {
            return kMarch5.addSecs(clockReadings++);
        };
    }
    QString write(const QByteArray &content, const QString &name = QStringLiteral("d.xml")) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write test file");
        return file.fileName();
    }
    Lines loaded() const {
        return Lines(store.gXmlLines.begin(), store.gXmlLines.begin() + store.gXmlLineCount);
    }
};

// What a load logs and yields, given its lines and its last log line.
QStringList loadEvents(const Lines &lines, const QString &last) {
    QStringList events{QStringLiteral("<clear>"), QStringLiteral("Getting File"),
                       QStringLiteral("<yield>")};
    for (const QByteArray &line : lines)
        events << QString::fromLatin1(line) << QStringLiteral("<yield>");
    return events << last;
}

QString errorLine(const QString &fileName) {
    return QStringLiteral("ERROR on File search on file name ") + fileName;
}

Lines numberedLines(int count) {
    Lines lines;
    for (int i = 1; i <= count; ++i)
        lines << "<L>" + QByteArray::number(i) + "</L>";
    return lines;
}

} // namespace

class TestType5 : public QObject {
    Q_OBJECT

private slots:
    void cannedDocument() {
        const QByteArray document = cannedAmlDocument();
        const Lines lines = document.split('\n');
        QCOMPARE(lines.size(), 116);
        QCOMPARE(document.count("\r\n"), 115); // CR LF between lines, none after the last
        QVERIFY(!document.endsWith('\n') && !document.contains("/>"));
        const auto line = [&lines](int number) {
            return lines.at(number - 1).trimmed();
        };
        // The first three, an empty element, lines that hold two items, the last two.
        QCOMPARE(
            (Lines{line(1), line(2), line(3), line(24), line(22), line(54), line(115), line(116)}),
            (Lines{"<?xml version=\"1.0\" encoding=\"UTF-8\"?><CLI_Data>", "<ESAP_Data>",
                   "<Job_Reference_Number>13100305</Job_Reference_Number>",
                   "<Building_Location></Building_Location>",
                   "<Building_Floor_Nbr>385</Building_Floor_Nbr>"
                   "<Building_Floor_Nbr_Suffix>C</Building_Floor_Nbr_Suffix>",
                   "<Class_of_Service>M</Class_of_Service></Customer_Service_Data>", "</AML_Data>",
                   "</CLI_Data>"}));
        // Fixed stamps: the canned document is never restamped.
        QVERIFY(document.contains("\r\n<Date_Sent>2019-11-04</Date_Sent>\r\n"
                                  "<Time_Sent>13:40:06</Time_Sent>\r\n"));
    }

    void checker_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("reason"); // the start of the expected reason; empty: accepted
        const QByteArray canned = cannedAmlDocument();
        const auto row = [](const char *name, const QByteArray &document, const char *reason) {
            QTest::newRow(name) << document << QString::fromLatin1(reason);
        };
        row("canned", canned, "");
        row("canned joined", joinedLines(canned), "");
        row("indented, empty date", replaced(replaced(canned, "\r\n", "\r\n  "), "2019-11-04", ""),
            "");
        row("missing element",
            replaced(canned, "<Building_2nd_Suffix>B</Building_2nd_Suffix>\r\n", ""),
            "element 11 of Customer_Service_Data is Building_Floor_Type, expected "
            "Building_2nd_Suffix");
        row("extra element at group end",
            replaced(canned, "</ESAP_Data>", "<Extra></Extra></ESAP_Data>"),
            "element 6 of ESAP_Data is Extra, expected the end of ESAP_Data");
        row("bad day", replaced(canned, "2019-11-04", "2019-02-29"),
            "Date_Sent '2019-02-29' is not a date yyyy-mm-dd");
        row("hour 24", replaced(canned, "13:40:06", "24:00:00"),
            "Time_Sent '24:00:00' is not a time hh:mm:ss");
        row("date-time with T", replaced(canned, "2018-07-17 17:53:29", "2018-07-17T17:53:29"),
            "AML_Time_of_Positioning_TOP '2018-07-17T17:53:29' is not a date-time");
        row("markup in a leaf", replaced(canned, ">MELLIS<", "><b>MELLIS</b><"),
            "Locality holds markup, expected plain text");
        row("attribute", replaced(canned, "<Shape>", "<Shape kind=\"c\">"), "Shape has attributes");
        row("wrong root", replaced(replaced(canned, "<CLI_Data>", "<X>"), "</CLI_Data>", "</X>"),
            "root element is X, expected CLI_Data");
        row("cut short", canned.left(canned.size() - 3), "broken XML at line 116, column ");
    }

    void checker() {
        QFETCH(QByteArray, document);
        QFETCH(QString, reason);
        const AmlCheck check = checkAmlDocument(document);
        QCOMPARE(check.ok, reason.isEmpty());
        QVERIFY2(reason.isEmpty() ? check.reason.isEmpty() : check.reason.startsWith(reason),
                 qPrintable(check.reason));
    }

    // Documents back to back, whole or byte by byte, come off complete; the
    // incomplete tail stays.
    void splitter() {
        const QByteArray doc = cannedAmlDocument();
        const QByteArray stream = doc + joinedLines(doc) + doc.left(40);
        QByteArray whole = stream;
        const Lines taken = takeCompleteDocuments(whole);
        QCOMPARE(taken, (Lines{doc, joinedLines(doc)}));
        QCOMPARE(whole, doc.left(40));
        QByteArray trickle;
        Lines trickled;
        for (const char byte : stream) {
            trickle.append(byte);
            trickled += takeCompleteDocuments(trickle);
        }
        QCOMPARE(trickled, taken);
    }

    void load_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<bool>("complete"); // "End of File" rather than the error line
        QTest::newRow("LF, CR LF, CR, no final break")
            << QByteArray("a\nb\r\nc\rd") << Lines{"a", "b", "c", "d"} << true;
        QTest::newRow("empty file") << QByteArray() << Lines{} << false;
        QTest::newRow("stamps restamped, indented kept")
            << QByteArray("<Date_Sent>2019-11-04</Date_Sent>\n <Time_Sent>1</Time_Sent>\n")
            << Lines{"<Date_Sent>2024-03-05</Date_Sent>", " <Time_Sent>1</Time_Sent>"} << true;
        QTest::newRow("501 lines") << numberedLines(501).join('\n') + '\n'
                                   << numberedLines(501) << true;
        QTest::newRow("502 lines") << numberedLines(502).join('\n') << numberedLines(501) << false;
    }

    void load() {
        QFETCH(QByteArray, content);
        QFETCH(Lines, lines);
        QFETCH(bool, complete);
        Store s;
        const QString path = s.write(content);
        s.store.OpenXMLFile(path);
        QCOMPARE(s.loaded(), lines);
        QCOMPARE(s.events,
                 loadEvents(lines, complete ? QStringLiteral("End of File") : errorLine(path)));
    }

    void missingFileKeepsThePreviousLoad() {
        Store s;
        s.store.OpenXMLFile(s.write("a\nb\n"));
        s.events.clear();
        s.store.OpenXMLFile(QStringLiteral(".\\*.xml")); // the dialog cancelled
        QCOMPARE(s.events, QStringList{errorLine(QStringLiteral(".\\*.xml"))}); // log not cleared
        QCOMPARE(s.loaded(), (Lines{"a", "b"}));
    }

    // A second load started while the first yields wins; the first stops
    // without touching the store or the log again.
    void newerLoadWins() {
        Store s;
        const QString first = s.write("a\nb\nc\n");
        const QString second = s.write("x\ny\n", QStringLiteral("second.xml"));
        int yields = 0;
        s.store.yield = [&] {
            s.events << QStringLiteral("<yield>");
            if (++yields == 2)
                s.store.OpenXMLFile(second);
        };
        s.store.OpenXMLFile(first);
        QCOMPARE(s.loaded(), (Lines{"x", "y"}));
        QCOMPARE(s.events, loadEvents({"a"}, QString()).mid(0, 5) +
                               loadEvents({"x", "y"}, QStringLiteral("End of File")));
        QVERIFY(!s.store.isLoading());
    }

    // Loaded, restamped (each stamp reads the clock afresh) and joined, the
    // sample passes the receiver's check.
    void loadedSamplePassesTheCheck() {
        Store s;
        s.store.OpenXMLFile(QStringLiteral(TALVGEN_SOURCE_DIR "/samples/aml.xml"));
        const QByteArray packet = nextType5Packet(QByteArray(), s.store);
        const AmlCheck check = checkAmlDocument(packet);
        QVERIFY2(check.ok, qPrintable(check.reason));
        QVERIFY(!packet.contains('\r') && !packet.contains('\n'));
        QVERIFY(
            packet.contains("<Date_Sent>2024-03-05</Date_Sent><Time_Sent>21:04:06</Time_Sent>"));
        QVERIFY(packet.contains(
            "<AML_Time_of_Positioning_TOP>2024-03-05 21:04:07</AML_Time_of_Positioning_TOP>"));
    }

    void pendingAfterSend_data() {
        QTest::addColumn<Lines>("files"); // loaded one after the other
        QTest::addColumn<int>("presses");
        QTest::addColumn<QByteArray>("pendingBefore");
        QTest::addColumn<QByteArray>("pending");
        const QByteArray canned = cannedAmlDocument();
        QTest::newRow("canned replaces pending") << Lines{} << 2 << QByteArray("old") << canned;
        QTest::newRow("loaded, added to pending")
            << Lines{"a\r\nb\r\nc"} << 2 << QByteArray("old") << QByteArray("oldabcabc");
        QTest::newRow("shorter file after a longer")
            << Lines{"a\nb\nc\n", "z\n"} << 1 << QByteArray() << QByteArray("z");
    }

    void pendingAfterSend() {
        QFETCH(Lines, files);
        QFETCH(int, presses);
        QFETCH(QByteArray, pendingBefore);
        QFETCH(QByteArray, pending);
        Store s;
        for (qsizetype i = 0; i < files.size(); ++i)
            s.store.OpenXMLFile(s.write(files[i], QStringLiteral("%1.xml").arg(i)));
        QByteArray slot = pendingBefore;
        for (int i = 0; i < presses; ++i)
            slot = nextType5Packet(slot, s.store);
        QCOMPARE(slot, pending);
    }

    // Only a line that begins exactly with one of the three stamps is
    // replaced whole; any other line is kept.
    void restamp_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QByteArray>("expected");
        const QDateTime midnight(QDate(2025, 1, 2), QTime(0, 0, 0));
        QTest::newRow("date") << QByteArray("<Date_Sent>2019-11-04</Date_Sent>") << kMarch5
                              << QByteArray("<Date_Sent>2024-03-05</Date_Sent>");
        QTest::newRow("time at midnight, rest dropped")
            << QByteArray("<Time_Sent>13:40:06</Time_Sent><X>y</X>") << midnight
            << QByteArray("<Time_Sent>00:00:00</Time_Sent>");
        QTest::newRow("date-time, 24-hour")
            << QByteArray("<AML_Time_of_Positioning_TOP>x") << kMarch5
            << QByteArray("<AML_Time_of_Positioning_TOP>2024-03-05 "
                          "21:04:05</AML_Time_of_Positioning_TOP>");
        for (const char *kept : {"  <Time_Sent>13:40:06</Time_Sent>", "<time_sent>1</time_sent>",
                                 "<Date_Sent_UTC>1</Date_Sent_UTC>", "<Date_Sent",
                                 "<Transaction_Date>2010-07-17 17:53:29</Transaction_Date>"})
            QTest::newRow(kept) << QByteArray(kept) << kMarch5 << QByteArray(kept);
    }

    void restamp() {
        QFETCH(QByteArray, line);
        QFETCH(QDateTime, now);
        QFETCH(QByteArray, expected);
        QCOMPARE(restampXmlLine(line, now), expected);
        QCOMPARE(isRestampedXmlLine(line), expected != line);
    }
};

QTEST_GUILESS_MAIN(TestType5)
#include "tst_type5.moc"
