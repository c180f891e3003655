#include "responsestats.h"
#include "runtally.h"

#include <QTest>

class tst_RunTally : public QObject {
    Q_OBJECT
private slots:
    // Whole runs (all answered, unanswered, refused, file failures) are in tst_headlessrun.
    void exitStatus_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("handedOver");
        QTest::addColumn<QList<qint64>>("responsesUs"); // on link 1
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("exactly 2 s is in time")
            << 1 << 1 << QList<qint64>{2'000'000} << 0 << "PASS";
        QTest::newRow("one microsecond late")
            << 1 << 1 << QList<qint64>{2'000'001} << 1 << "FAIL: 1 delayed";
        QTest::newRow("nothing sent")
            << 0 << 0 << QList<qint64>{} << 1 << "FAIL: no packet was sent";
        QTest::newRow("everything wrong at once")
            << 4 << 3 << QList<qint64>{3'000'000} << 1
            << "FAIL: 1 not handed over, 2 unanswered, 1 delayed";
    }

    void exitStatus() {
        QFETCH(int, stored);
        QFETCH(int, handedOver);
        QFETCH(QList<qint64>, responsesUs);
        QFETCH(int, status);
        QFETCH(QString, verdict);
        RunTally tally;
        tally.type4.stored = stored;
        tally.type4.handedOver = handedOver;
        for (const qint64 usec : responsesUs)
            tally.type4.measured(usec);
        QCOMPARE(tally.exitStatus(), status);
        QVERIFY2(tally.verdict().startsWith(verdict), qPrintable(tally.verdict()));
    }

    void countsLogLines_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("socketErrors");
        QTest::addColumn<int>("fileFailures");
        QTest::newRow("set-up failed") << "Unable to set socket" << 1 << 0;
        QTest::newRow("data file not opened")
            << "Unable to open log file, windows reports: No such file" << 0 << 1;
        QTest::newRow("peer closed is no error") << "Event: Port Closed" << 0 << 0;
        QTest::newRow("prefix only inside a line") << "x Unable to set socket" << 0 << 0;
    }

    // Only data-file frames are counted from the log; the runner counts canned ones.
    void countsLogLines() {
        QFETCH(QString, line);
        QFETCH(int, socketErrors);
        QFETCH(int, fileFailures);
        RunTally tally;
        tally.logged(line);
        tally.logged(QStringLiteral("--> 99900053|A|B"));
        QCOMPARE(tally.socketErrors, socketErrors);
        QCOMPARE(tally.type4.stored, 0);
        QCOMPARE(tally.dataFileFailures, fileFailures);
    }

    // The lines with counts are checked through whole runs in tst_headlessrun.
    void summaryEndsWithResponseTimes() {
        ResponseStats type4;
        type4.add(1500);
        type4.add(2500);
        ResponseStats connects;
        connects.add(400);
        const QString window = QStringLiteral("Response times: Type 4: 2 responses");
        const QStringList lines =
            summaryLines(RunTally(), 2, window.mid(16), &type4, nullptr, &connects);
        QCOMPARE(
            lines.mid(lines.indexOf(window)),
            (QStringList{window,
                         QStringLiteral("Type 4 precise: 2 responses, min 1.500 ms, mean "
                                        "2.000 ms, median 1.500 ms, p95 2.500 ms, max 2.500 ms"),
                         QStringLiteral("Type 4 connect: 1 connect, min 0.400 ms, mean 0.400 "
                                        "ms, median 0.400 ms, p95 0.400 ms, max 0.400 ms"),
                         QStringLiteral("Result: FAIL: no packet was sent")}));
    }
};

QTEST_GUILESS_MAIN(tst_RunTally)
#include "tst_runtally.moc"
