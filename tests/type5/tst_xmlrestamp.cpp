#include "xmlrestamp.h"

#include <QTest>

class TestXmlRestamp : public QObject {
    Q_OBJECT
private slots:
    void restamp_data();
    void restamp();
};

void TestXmlRestamp::restamp_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QByteArray>("expected");

    const QDateTime march5(QDate(2024, 3, 5), QTime(21, 4, 5));
    const QDateTime newYear(QDate(2025, 1, 2), QTime(0, 0, 0));
    const auto row = [](const char *name, const QByteArray &line, const QDateTime &now,
                        const QByteArray &expected) {
        QTest::newRow(name) << line << now << expected;
    };

    row("date", "<Date_Sent>2019-11-04</Date_Sent>", march5, "<Date_Sent>2024-03-05</Date_Sent>");
    row("time, 24-hour", "<Time_Sent>13:40:06</Time_Sent>", march5,
        "<Time_Sent>21:04:05</Time_Sent>");
    row("time at midnight", "<Time_Sent>13:40:06</Time_Sent>", newYear,
        "<Time_Sent>00:00:00</Time_Sent>");
    row("date-time",
        "<AML_Time_of_Positioning_TOP>2018-07-17 17:53:29</AML_Time_of_Positioning_TOP>", march5,
        "<AML_Time_of_Positioning_TOP>2024-03-05 21:04:05</AML_Time_of_Positioning_TOP>");
    row("start tag alone", "<Time_Sent>", march5, "<Time_Sent>21:04:05</Time_Sent>");
    row("rest dropped", "<Time_Sent>13:40:06</Time_Sent><X>y</X>", march5,
        "<Time_Sent>21:04:05</Time_Sent>");

    // Any other line is kept as it is.
    row("indented by spaces", "  <Time_Sent>13:40:06</Time_Sent>", march5,
        "  <Time_Sent>13:40:06</Time_Sent>");
    row("indented by a tab", "\t<Date_Sent>2019-11-04</Date_Sent>", march5,
        "\t<Date_Sent>2019-11-04</Date_Sent>");
    row("wrong case", "<time_sent>13:40:06</time_sent>", march5, "<time_sent>13:40:06</time_sent>");
    row("longer name", "<Date_Sent_UTC>2019-11-04</Date_Sent_UTC>", march5,
        "<Date_Sent_UTC>2019-11-04</Date_Sent_UTC>");
    row("tag unfinished", "<Date_Sent", march5, "<Date_Sent");
    row("stamp later in line", "<ESAP_Data><Date_Sent>2019-11-04</Date_Sent>", march5,
        "<ESAP_Data><Date_Sent>2019-11-04</Date_Sent>");
    row("other element", "<Transaction_Date>2010-07-17 17:53:29</Transaction_Date>", march5,
        "<Transaction_Date>2010-07-17 17:53:29</Transaction_Date>");
}

void TestXmlRestamp::restamp() {
    QFETCH(QByteArray, line);
    QFETCH(QDateTime, now);
    QFETCH(QByteArray, expected);
    QCOMPARE(restampXmlLine(line, now), expected);
    QCOMPARE(isRestampedXmlLine(line), expected != line);
}

QTEST_GUILESS_MAIN(TestXmlRestamp)
#include "tst_xmlrestamp.moc"
