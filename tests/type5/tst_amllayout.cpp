#include "amllayout.h"

#include <QFile>
#include <QTest>

namespace {

QByteArray sampleFile() {
    QFile file(QStringLiteral(TALVGEN_SOURCE_DIR "/samples/aml.xml"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A loaded file is sent as its lines joined without line breaks.
QByteArray joinedLines(QByteArray text) {
    text.replace("\r\n", "").replace('\n', "").replace('\r', "");
    return text;
}

QByteArray replaced(QByteArray text, const QByteArray &before, const QByteArray &after) {
    Q_ASSERT(text.contains(before));
    return text.replace(before, after);
}

} // namespace

class TestAmlLayout : public QObject {
    Q_OBJECT
private slots:
    void cannedDocument();
    void check_data();
    void check();
    void split_data();
    void split();
};

void TestAmlLayout::cannedDocument() {
    const QByteArray document = cannedAmlDocument();
    QCOMPARE(cannedAmlDocument(), document);
    QVERIFY(!document.endsWith("\r\n"));
    QCOMPARE(document.count('\r'), 115); // every line break CR LF, none after the last line
    QVERIFY(!document.contains("/>"));   // never an empty-element tag
    const QList<QByteArray> lines = document.split('\n');
    QCOMPARE(lines.size(), 116);
    for (const QByteArray &line : lines)
        QVERIFY2(line.startsWith('<') && line.count('\r') == (line == lines.last() ? 0 : 1),
                 line.constData());
    const auto line = [&lines](int number) {
        return lines.at(number - 1).trimmed();
    };
    // The first three lines, an empty element, the last two.
    QCOMPARE((QList<QByteArray>{line(1), line(2), line(3), line(24), line(115), line(116)}),
             (QList<QByteArray>{
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CLI_Data>", "<ESAP_Data>",
                 "<Job_Reference_Number>13100305</Job_Reference_Number>",
                 "<Building_Location></Building_Location>", "</AML_Data>", "</CLI_Data>"}));
    // The six lines that hold two items.
    QCOMPARE((QList<QByteArray>{line(1), line(22), line(43), line(54), line(68), line(92)}),
             (QList<QByteArray>{"<?xml version=\"1.0\" encoding=\"UTF-8\"?><CLI_Data>",
                                "<Building_Floor_Nbr>385</Building_Floor_Nbr>"
                                "<Building_Floor_Nbr_Suffix>C</Building_Floor_Nbr_Suffix>",
                                "<Usage_Code></Usage_Code><Type_of_Service>AAA</Type_of_Service>",
                                "<Class_of_Service>M</Class_of_Service></Customer_Service_Data>",
                                "<Stop_Angle></Stop_Angle><Polygon_X1></Polygon_X1>",
                                "<Polygon_X13></Polygon_X13><Polygon_Y13></Polygon_Y13>"}));
    // The stamps are fixed: the canned document is never restamped.
    QVERIFY(document.contains("\r\n<Date_Sent>2019-11-04</Date_Sent>\r\n"));
    QVERIFY(document.contains("\r\n<Time_Sent>13:40:06</Time_Sent>\r\n"));
    QVERIFY(document.contains(
        "\r\n<AML_Time_of_Positioning_TOP>2018-07-17 17:53:29</AML_Time_of_Positioning_TOP>\r\n"));
}

void TestAmlLayout::check_data() {
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("reason"); // a prefix of the expected reason; empty: accepted
    const QByteArray canned = cannedAmlDocument();
    const QByteArray sample = sampleFile();
    QVERIFY(!sample.isEmpty());
    const auto row = [](const char *name, const QByteArray &document, const char *reason) {
        QTest::newRow(name) << document << QString::fromLatin1(reason);
    };
    row("canned", canned, "");
    row("canned joined", joinedLines(canned), "");
    row("sample", sample, "");
    row("sample joined", joinedLines(sample), "");
    row("indented", replaced(canned, "\r\n", "\r\n    "), "");
    row("empty date", replaced(canned, "2019-11-04", ""), "");
    row("comment", replaced(canned, "<SMSA_Data>", "<!-- ok --><SMSA_Data>"), "");
    row("entity in text", replaced(canned, "Main Building", "Main &amp; Annexe Building"), "");
    row("trailing line break", canned + "\r\n", "");
    row("missing element", replaced(canned, "<Building_2nd_Suffix>B</Building_2nd_Suffix>\r\n", ""),
        "element 11 of Customer_Service_Data is Building_Floor_Type, expected "
        "Building_2nd_Suffix");
    row("missing last element",
        replaced(canned, "<Mobile_Network_Code_MNC>01</Mobile_Network_Code_MNC>", ""),
        "AML_Data ends after 10 elements, expected Mobile_Network_Code_MNC");
    row("extra element",
        replaced(canned, "<Date_Sent>", "<Extra_Field>1</Extra_Field>\r\n<Date_Sent>"),
        "element 2 of ESAP_Data is Extra_Field, expected Date_Sent");
    row("extra element at group end",
        replaced(canned, "</ESAP_Data>", "<Extra></Extra></ESAP_Data>"),
        "element 6 of ESAP_Data is Extra, expected the end of ESAP_Data");
    row("out of order",
        replaced(canned, "<Date_Sent>2019-11-04</Date_Sent>\r\n<Time_Sent>13:40:06</Time_Sent>",
                 "<Time_Sent>13:40:06</Time_Sent>\r\n<Date_Sent>2019-11-04</Date_Sent>"),
        "element 2 of ESAP_Data is Time_Sent, expected Date_Sent");
    const qsizetype smsaStart = canned.indexOf("<SMSA_Data>");
    const qsizetype smsaEnd = canned.indexOf("</SMSA_Data>\r\n") + 14;
    row("missing group", QByteArray(canned).remove(smsaStart, smsaEnd - smsaStart),
        "group 3 of CLI_Data is Push_MoLI_Data, expected SMSA_Data");
    row("bad month", replaced(canned, "2019-11-04", "2019-13-04"),
        "Date_Sent '2019-13-04' is not a date yyyy-mm-dd");
    row("bad day", replaced(canned, "2019-11-04", "2019-02-29"),
        "Date_Sent '2019-02-29' is not a date yyyy-mm-dd");
    row("hour 24", replaced(canned, "13:40:06", "24:00:00"),
        "Time_Sent '24:00:00' is not a time hh:mm:ss");
    row("date-time with T", replaced(canned, "2018-07-17 17:53:29", "2018-07-17T17:53:29"),
        "AML_Time_of_Positioning_TOP '2018-07-17T17:53:29' is not a date-time "
        "yyyy-mm-dd hh:mm:ss");
    row("bad transaction date", replaced(canned, "2010-07-17 17:53:29", "2010-07-17 17:61:29"),
        "Transaction_Date '2010-07-17 17:61:29' is not a date-time yyyy-mm-dd hh:mm:ss");
    row("markup in a leaf", replaced(canned, ">MELLIS<", "><b>MELLIS</b><"),
        "Locality holds markup, expected plain text");
    row("text between leaves", replaced(canned, "<ESAP_Data>", "<ESAP_Data>stray"),
        "text 'stray' in ESAP_Data outside any element");
    row("attribute", replaced(canned, "<Shape>", "<Shape kind=\"circle\">"),
        "Shape has attributes");
    row("wrong root",
        replaced(replaced(canned, "<CLI_Data>", "<AML_Record>"), "</CLI_Data>", "</AML_Record>"),
        "root element is AML_Record, expected CLI_Data");
    row("mismatched tag", replaced(canned, "</Locality>", "</Localty>"),
        "broken XML at line 38, column ");
    row("cut short", canned.left(canned.size() - 3), "broken XML at line 116, column ");
    row("two documents", canned + canned, "broken XML at line 116, column ");
}

void TestAmlLayout::check() {
    QFETCH(QByteArray, document);
    QFETCH(QString, reason);
    const AmlCheck check = checkAmlDocument(document);
    QCOMPARE(check.ok, reason.isEmpty());
    QVERIFY2(reason.isEmpty() ? check.reason.isEmpty() : check.reason.startsWith(reason),
             qPrintable(check.reason));
}

void TestAmlLayout::split_data() {
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("documents");
    QTest::addColumn<QByteArray>("rest");
    const QByteArray doc = cannedAmlDocument();
    QTest::newRow("empty") << QByteArray() << 0 << QByteArray();
    QTest::newRow("one") << doc << 1 << QByteArray();
    QTest::newRow("three") << doc + joinedLines(sampleFile()) + doc << 3 << QByteArray();
    QTest::newRow("partial tail") << doc + doc.left(40) << 1 << doc.left(40);
    QTest::newRow("end tag cut") << doc.left(doc.size() - 3) << 0 << doc.left(doc.size() - 3);
    QTest::newRow("two and a tail") << doc + doc + QByteArray("<?xml") << 2 << QByteArray("<?xml");
}

void TestAmlLayout::split() {
    QFETCH(QByteArray, buffer);
    QFETCH(int, documents);
    QFETCH(QByteArray, rest);
    const QByteArray original = buffer;
    const QList<QByteArray> taken = takeCompleteDocuments(buffer);
    QCOMPARE(taken.size(), documents);
    QCOMPARE(buffer, rest);
    QCOMPARE(taken.join() + buffer, original);
    for (const QByteArray &document : taken) {
        const AmlCheck check = checkAmlDocument(document);
        QVERIFY2(check.ok, qPrintable(check.reason));
    }
    // Arriving byte by byte, the same documents come off.
    QByteArray trickle;
    QList<QByteArray> trickled;
    for (const char byte : original) {
        trickle.append(byte);
        trickled += takeCompleteDocuments(trickle);
    }
    QCOMPARE(trickled, taken);
    QCOMPARE(trickle, rest);
}

QTEST_GUILESS_MAIN(TestAmlLayout)
#include "tst_amllayout.moc"
