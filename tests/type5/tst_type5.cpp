// SPDX-License-Identifier: GPL-3.0-or-later
#include "amllayout.h"
#include "xmllinestore.h"
#include "xmlrestamp.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

// Type 5 documents as the wire and the log see them: the canned document, the
// receiver's checker, the XML file load and what Send leaves pending.
namespace {

using Lines = QList<QByteArray>;

// Midnight tells a 24-hour, zero-padded time from the other forms.
const QDateTime kMidnight(QDate(2024, 3, 5), QTime(0, 0, 0));

const QString kErrorLine = u"ERROR on File search on file name "_s;

// A store whose log, clears and yields go into one event list; its clock
// advances a second at each reading.
struct Store {
    QTemporaryDir dir;
    XmlLineStore store;
    QStringList events;
    int clockReadings = 0;

    Store() {
        std::tie(store.log, store.clearLog, store.yield, store.clock) =
            std::tuple([this](const QString &line) { events << line; },
                       [this] { events << u"<clear>"_s; }, [this] { events << u"<yield>"_s; },
                       [this] { return kMidnight.addSecs(clockReadings++); });
    }
    QString write(const QByteArray &content, const QString &name = u"d.xml"_s) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write test file");
        return file.fileName();
    }
};

// What a load logs and yields, given its lines and its last log line.
QStringList loadEvents(const Lines &lines, const QString &last) {
    QStringList events{u"<clear>"_s, u"Getting File"_s, u"<yield>"_s};
    for (const QByteArray &line : lines)
        events << QString::fromLatin1(line) << u"<yield>"_s;
    return events << last;
}

} // namespace

class TestType5 : public QObject {
    Q_OBJECT

private slots:
    // One item a line (six pairs share one), CR LF between lines, none after
    // the last; fixed stamps, as the canned document is never restamped.
    void cannedDocument() {
        const QByteArray document = cannedAmlDocument();
        QVERIFY(document.count("\r\n") == 115 && document.count('\n') == 115);
        QVERIFY(!document.contains("/>")); // empty elements as start and end tag
        QVERIFY(document.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?><CLI_Data>\r\n"));
        QVERIFY(document.contains("\r\n<Building_Floor_Nbr>385</Building_Floor_Nbr>"
                                  "<Building_Floor_Nbr_Suffix>C</Building_Floor_Nbr_Suffix>\r\n"));
        QVERIFY(document.endsWith("</AML_Data>\r\n</CLI_Data>"));
    }

    void checker_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("reason"); // the start of the expected reason; empty: accepted
        const QByteArray canned = cannedAmlDocument();
        const auto row = [&canned](const char *before, const char *after, const char *reason) {
            QTest::newRow(reason) << QByteArray(canned).replace(before, after)
                                  << QString::fromLatin1(reason);
        };
        QTest::newRow("canned") << canned << QString();
        Store s; // restamped, then joined
        s.store.OpenXMLFile(QStringLiteral(TALVGEN_SOURCE_DIR "/samples/aml.xml"));
        QTest::newRow("sample as loaded") << nextType5Packet({}, s.store) << QString();
        QTest::newRow("indented, empty date")
            << QByteArray(canned).replace("\r\n", "\r\n  ").replace("2019-11-04", "") << QString();
        row("<Building_2nd_Suffix>B</Building_2nd_Suffix>\r\n", "",
            "element 11 of Customer_Service_Data is Building_Floor_Type, expected "
            "Building_2nd_Suffix");
        row("</ESAP_Data>", "<Extra></Extra></ESAP_Data>",
            "element 6 of ESAP_Data is Extra, expected the end of ESAP_Data");
        row("2019-11-04", "2019-02-29", "Date_Sent '2019-02-29' is not a date yyyy-mm-dd");
        row("13:40:06", "24:00:00", "Time_Sent '24:00:00' is not a time hh:mm:ss");
        row("2018-07-17 17:53:29", "2018-07-17T17:53:29",
            "AML_Time_of_Positioning_TOP '2018-07-17T17:53:29' is not a date-time");
        row(">MELLIS<", "><b>MELLIS</b><", "Locality holds markup, expected plain text");
        row("<Shape>", "<Shape kind=\"c\">", "Shape has attributes");
        row("CLI_Data>", "X>", "root element is X, expected CLI_Data");
        QTest::newRow("cut short") << canned.chopped(3) << u"broken XML at line 116, column "_s;
    }

    void checker() {
        QFETCH(QByteArray, document);
        QFETCH(QString, reason);
        const AmlCheck check = checkAmlDocument(document);
        QCOMPARE(check.reason.left(reason.size()), reason);
        QCOMPARE(check.ok, reason.isEmpty());
    }

    // What the load logs, and what Send then leaves pending after "old".
    void load_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<bool>("complete"); // "End of File" rather than the error line
        Lines many;
        for (int i = 1; i <= 502; ++i)
            many << "<L>" + QByteArray::number(i) + "</L>";
        // Each stamp reads the clock afresh, the lines that only look like one do not.
        const Lines kept = {"  <Time_Sent>13:40:06</Time_Sent>", "<time_sent>1</time_sent>",
                            "<Date_Sent_UTC>1</Date_Sent_UTC>", "<Date_Sent",
                            "<Transaction_Date>2010-07-17 17:53:29</Transaction_Date>"};
        QTest::newRow("stamps replaced whole, look-alikes kept")
            << kept.join('\n') +
                   "\n<Date_Sent>2019-11-04</Date_Sent>\n<Time_Sent>1</Time_Sent><X>y</X>"
                   "\n<AML_Time_of_Positioning_TOP>x"
            << kept + Lines{"<Date_Sent>2024-03-05</Date_Sent>", "<Time_Sent>00:00:01</Time_Sent>",
                            "<AML_Time_of_Positioning_TOP>2024-03-05 "
                            "00:00:02</AML_Time_of_Positioning_TOP>"}
            << true;
        QTest::newRow("empty file: the canned document") << QByteArray() << Lines{} << false;
        QTest::newRow("501 lines") << many.first(501).join('\n') << many.first(501) << true;
        QTest::newRow("502 lines") << many.join('\n') << many.first(501) << false;
        // A line longer than the reader holds stops the load; none goes on cut short.
        QTest::newRow("a line of 9 MiB is refused")
            << "a\n" + QByteArray(9 * 1024 * 1024, 'x') + "\nb" << Lines{"a"} << false;
    }

    void load() {
        QFETCH(QByteArray, content);
        QFETCH(Lines, lines);
        QFETCH(bool, complete);
        Store s;
        const QString path = s.write(content);
        s.store.OpenXMLFile(path);
        QCOMPARE(s.events, loadEvents(lines, complete ? u"End of File"_s : kErrorLine + path));
        QCOMPARE(nextType5Packet("old", s.store),
                 lines.isEmpty() ? cannedAmlDocument() : "old" + lines.join());
    }

    // A load started while another yields wins: the older stops without
    // touching the store or the log again, and the shorter file's lines are
    // all that is sent. A file that cannot be opened changes nothing.
    void laterLoads() {
        Store s;
        const QString second = s.write("z\n", u"second.xml"_s);
        int yields = 0;
        s.store.yield = [&] {
            s.events << u"<yield>"_s;
            if (++yields == 3)
                s.store.OpenXMLFile(second);
        };
        s.store.OpenXMLFile(s.write("a\nb\nc\n"));
        QCOMPARE(s.events,
                 loadEvents({"a", "b"}, QString()).mid(0, 7) + loadEvents({"z"}, u"End of File"_s));
        QVERIFY(!s.store.isLoading());
        s.events.clear();
        s.store.OpenXMLFile(u".\\*.xml"_s);                          // the dialog cancelled
        QCOMPARE(s.events, QStringList{kErrorLine + u".\\*.xml"_s}); // log not cleared
        QCOMPARE(nextType5Packet(QByteArray(), s.store), QByteArray("z"));
    }
};

QTEST_GUILESS_MAIN(TestType5)
#include "tst_type5.moc"
