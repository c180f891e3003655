#include "responsestats.h"
#include "runtally.h"

#include <QTest>

class tst_RunTally : public QObject {
    Q_OBJECT
private slots:
    void exitStatus_data();
    void exitStatus();
    void countsLogLines_data();
    void countsLogLines();
    void summaryNamesEveryCount();
};

void tst_RunTally::exitStatus_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("handedOver");
    QTest::addColumn<QList<qint64>>("responsesUs"); // on link 1
    QTest::addColumn<int>("fileFailures");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("verdict");

    QTest::newRow("all answered") << 2 << 2 << QList<qint64>{150, 1'999'999} << 0 << 0
                                  << "PASS: every packet answered within 2000 ms";
    QTest::newRow("exactly 2 s is in time")
        << 1 << 1 << QList<qint64>{2'000'000} << 0 << 0 << "PASS";
    QTest::newRow("one microsecond late")
        << 1 << 1 << QList<qint64>{2'000'001} << 0 << 1 << "FAIL: 1 delayed";
    QTest::newRow("unanswered") << 2 << 2 << QList<qint64>{300} << 0 << 1 << "FAIL: 1 unanswered";
    QTest::newRow("refused, never handed over")
        << 1 << 0 << QList<qint64>{} << 0 << 1 << "FAIL: 1 not handed over";
    QTest::newRow("nothing sent") << 0 << 0 << QList<qint64>{} << 0 << 1
                                  << "FAIL: no packet was sent";
    QTest::newRow("file failure wins")
        << 1 << 1 << QList<qint64>{100} << 1 << 2 << "FAIL: a data file could not be opened";
    QTest::newRow("everything wrong at once") << 4 << 3 << QList<qint64>{3'000'000} << 0 << 1
                                              << "FAIL: 1 not handed over, 2 unanswered, 1 delayed";
}

void tst_RunTally::exitStatus() {
    QFETCH(int, stored);
    QFETCH(int, handedOver);
    QFETCH(QList<qint64>, responsesUs);
    QFETCH(int, fileFailures);
    QFETCH(int, status);
    QFETCH(QString, verdict);

    RunTally tally;
    tally.type4.stored = stored;
    tally.type4.handedOver = handedOver;
    for (const qint64 usec : responsesUs)
        tally.type4.measured(usec);
    tally.dataFileFailures = fileFailures;
    QCOMPARE(tally.exitStatus(), status);
    QVERIFY2(tally.verdict().startsWith(verdict), qPrintable(tally.verdict()));
}

void tst_RunTally::countsLogLines_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("socketErrors");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("fileFailures");

    QTest::newRow("refused") << "Event: Socket error Connection refused" << 1 << 0 << 0;
    QTest::newRow("set-up failed") << "Unable to set socket" << 1 << 0 << 0;
    QTest::newRow("data-file frame") << "RSFP: Data Sent: 3|12345678|x" << 0 << 1 << 0;
    QTest::newRow("data file not opened")
        << "Unable to open log file, windows reports: No such file" << 0 << 0 << 1;
    QTest::newRow("xml not loaded") << "ERROR on File search on file name a.xml" << 0 << 0 << 1;
    QTest::newRow("peer closed is no error") << "Event: Port Closed" << 0 << 0 << 0;
    QTest::newRow("canned frame is counted by the runner") << "--> 99900053|A|B" << 0 << 0 << 0;
    QTest::newRow("prefix only inside a line") << "x Unable to set socket" << 0 << 0 << 0;
}

void tst_RunTally::countsLogLines() {
    QFETCH(QString, line);
    QFETCH(int, socketErrors);
    QFETCH(int, stored);
    QFETCH(int, fileFailures);
    RunTally tally;
    tally.logged(line);
    QCOMPARE(tally.socketErrors, socketErrors);
    QCOMPARE(tally.type4.stored, stored);
    QCOMPARE(tally.dataFileFailures, fileFailures);
}

void tst_RunTally::summaryNamesEveryCount() {
    RunTally tally;
    tally.type4 = {3, 3, 0, 0, 2};
    tally.type4.measured(1500);
    tally.type4.measured(2500);
    tally.type5 = {1, 1, 0, 0, 1};
    tally.type5.measured(2'500'000);
    tally.socketErrors = 2;
    ResponseStats type4;
    type4.add(1500);
    type4.add(2500);
    ResponseStats connects;
    connects.add(400);

    const QStringList lines =
        summaryLines(tally, 3, QStringLiteral("Type 4: 2 responses"), &type4, nullptr, &connects);
    const QStringList expected = {
        QStringLiteral("==== talvgen-cli summary ===="),
        QStringLiteral("Packets handed over: Type 4 3 of 3, Type 5 1 of 1"),
        QStringLiteral("Responses processed: Type 4 2, Type 5 1 (window total 3)"),
        QStringLiteral("Responses measured: Type 4 2, Type 5 1"),
        QStringLiteral("Delayed (over 2000 ms): 1"),
        QStringLiteral("Unanswered: 1"),
        QStringLiteral("Socket errors: 2"),
        QStringLiteral("Response times: Type 4: 2 responses"),
        QStringLiteral("Type 4 precise: 2 responses, min 1.500 ms, mean 2.000 ms, median 1.500 ms, "
                       "p95 2.500 ms, max 2.500 ms"),
        QStringLiteral("Type 4 connect: 1 connect, min 0.400 ms, mean 0.400 ms, median 0.400 ms, "
                       "p95 0.400 ms, max 0.400 ms"),
        QStringLiteral("Result: FAIL: 1 unanswered, 1 delayed"),
    };
    QCOMPARE(lines, expected);
}

QTEST_GUILESS_MAIN(tst_RunTally)
#include "tst_runtally.moc"
