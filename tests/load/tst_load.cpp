// SPDX-License-Identifier: GPL-3.0-or-later
// The load engine as a test engineer meets it: its arrivals, its histogram,
// each fault a misbehaving receiver can cause, and its reports, against the
// reference receiver on 127.0.0.1.
#include "arrivalschedule.h"
#include "latencyhistogram.h"
#include "loadengine.h"
#include "loadoptions.h"
#include "loadrecords.h"
#include "loadrun.h"
#include "receiver.h"

#include <csignal>

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

// The system's own words for a file that cannot be opened ("No such file or
// directory" on Linux, "Path not found." on Windows).
QString openError(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString() : file.errorString();
}

// Words separated by spaces.
QStringList args(const char *text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

ReceiverOptions receiverOptions() {
    ReceiverOptions options;
    options.type4Port = 0;
    options.type5Port = 0;
    options.heartbeatIntervalMs = 0;
    options.quiet = true;
    return options;
}

struct LoadRun {
    std::vector<LinkTally> tallies;
    double seconds = 0;
};

QStringList loadArguments(const Receiver &receiver, const QStringList &extra) {
    QStringList arguments{u"talvgen-cli"_s, u"load"_s};
    arguments << u"--type4"_s
              << u"127.0.0.1:%1"_s.arg(receiver.type4Port() ? receiver.type4Port() : 1);
    arguments << u"--type5"_s
              << u"127.0.0.1:%1"_s.arg(receiver.type5Port() ? receiver.type5Port() : 1);
    return arguments + extra;
}

// Runs the engine to its end against the receiver.
LoadRun runEngine(const Receiver &receiver, const QStringList &extra) {
    const ParsedLoadOptions parsed = parseLoadOptions(loadArguments(receiver, extra));
    if (parsed.action != ParsedLoadOptions::Action::Run)
        qFatal("bad test options: %s", qPrintable(parsed.message));
    LoadRecords records;
    QString error;
    records.prepare(parsed.options, &error);
    const QHostAddress local(QHostAddress::LocalHost);
    LoadEngine engine(parsed.options, records, local, local);
    QSignalSpy finished(&engine, &LoadEngine::finished);
    engine.start();
    if (!finished.wait(10'000))
        qFatal("the load run did not end");
    LoadRun run;
    for (const LinkTally *tally : engine.tallies())
        run.tallies.push_back(*tally);
    run.seconds = engine.elapsedSeconds();
    return run;
}

// What a run of talvgen-cli load in-process prints.
struct Printed {
    Printed() {
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
    }
    int run(const QStringList &arguments) { return runLoad(arguments, out, err, false); }
    QBuffer out;
    QBuffer err;
};

} // namespace

class TestLoad : public QObject {
    Q_OBJECT

private slots:

    void histogramPercentiles_data() {
        QTest::addColumn<QString>("distribution");
        QTest::addColumn<double>("percent");
        QTest::addColumn<qint64>("expected");
        // Three significant digits: within 0.1 % of the true value.
        QTest::newRow("uniform 1..100000 us, p50") << u"uniform"_s << 50.0 << qint64(50'000);
        QTest::newRow("uniform p99") << u"uniform"_s << 99.0 << qint64(99'000);
        QTest::newRow("uniform p99.9") << u"uniform"_s << 99.9 << qint64(99'900);
        QTest::newRow("uniform p100 is the max") << u"uniform"_s << 100.0 << qint64(100'000);
        QTest::newRow("small values are exact") << u"small"_s << 50.0 << qint64(1'000);
        QTest::newRow("minutes: 1 in 1000 at 90 s") << u"tail"_s << 99.95 << qint64(90'000'000);
        QTest::newRow("p99.9 of that tail stays low") << u"tail"_s << 99.9 << qint64(1'000);
        QTest::newRow("over an hour counts as an hour")
            << u"huge"_s << 50.0 << qint64(3'600'000'000);
    }

    void histogramPercentiles() {
        QFETCH(QString, distribution);
        QFETCH(double, percent);
        QFETCH(qint64, expected);
        LatencyHistogram histogram;
        if (distribution == QLatin1String("uniform")) {
            for (qint64 us = 1; us <= 100'000; ++us)
                histogram.record(us);
        } else if (distribution == QLatin1String("small")) {
            for (qint64 us = 1; us <= 2'000; ++us)
                histogram.record(us);
        } else if (distribution == QLatin1String("tail")) {
            for (int i = 0; i < 999; ++i)
                histogram.record(1'000);
            histogram.record(90'000'000);
        } else {
            histogram.record(10'000'000'000);
        }
        const qint64 value = histogram.valueAtPercentile(percent);
        QVERIFY2(qAbs(value - expected) <= expected / 1000, qPrintable(QString::number(value)));
        // Merging into an empty histogram keeps every figure.
        LatencyHistogram merged;
        merged.add(histogram);
        QCOMPARE(merged.valueAtPercentile(percent), value);
        QCOMPARE(merged.count(), histogram.count());
    }

    void schedule_data() {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("rampSeconds");
        QTest::addColumn<bool>("poisson");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("expectedArrivals");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("constant 100/s, 1 s") << 100.0 << 100.0 << 0.0 << false << 1.0 << 100 << 0;
        QTest::newRow("ramp 0 to 100 over 10 s: half")
            << 0.0 << 100.0 << 10.0 << false << 10.0 << 500 << 1;
        QTest::newRow("ramp first half: a quarter")
            << 0.0 << 100.0 << 10.0 << false << 5.0 << 125 << 1;
        QTest::newRow("ramp down 100 to 0") << 100.0 << 0.0 << 10.0 << false << 10.0 << 500 << 1;
        QTest::newRow("ramp then steady") << 100.0 << 200.0 << 1.0 << false << 2.0 << 350 << 1;
        QTest::newRow("poisson keeps the mean")
            << 1000.0 << 1000.0 << 0.0 << true << 10.0 << 10'000 << 300;
    }

    void schedule() {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, rampSeconds);
        QFETCH(bool, poisson);
        QFETCH(double, seconds);
        QFETCH(int, expectedArrivals);
        QFETCH(int, tolerance);
        ArrivalSchedule schedule({from, to, rampSeconds, poisson, 7});
        int arrivals = 0;
        qint64 last = 0;
        for (qint64 at = schedule.nextUs();
             at != ArrivalSchedule::kNever && at < qint64(seconds * 1e6); at = schedule.nextUs()) {
            QVERIFY(at >= last);
            last = at;
            ++arrivals;
        }
        QVERIFY2(qAbs(arrivals - expectedArrivals) <= tolerance,
                 qPrintable(QString::number(arrivals)));
    }

    void arrivalsInTheEngine_data() {
        QTest::addColumn<QStringList>("run");
        QTest::addColumn<int>("due");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("count") << args("--rate 500/s --count 37") << 37 << 0;
        QTest::newRow("duration") << args("--rate 100/s --duration 0.5") << 50 << 0;
        QTest::newRow("ramp 0 to 200 over 0.5 s") << args("--ramp 0:200:0.5") << 50 << 1;
        QTest::newRow("count ends a ramp early") << args("--ramp 0:200:0.5 --count 10") << 10 << 0;
        QTest::newRow("poisson") << args("--rate 200/s --poisson --duration 0.5") << 100 << 30;
    }

    // Both links get the arrivals of the plan, all answered, each timed.
    void arrivalsInTheEngine() {
        QFETCH(QStringList, run);
        QFETCH(int, due);
        QFETCH(int, tolerance);
        Receiver receiver(receiverOptions());
        QVERIFY(receiver.start());
        const LoadRun result = runEngine(receiver, run);
        for (const LinkTally &tally : result.tallies) {
            QVERIFY2(qAbs(tally.due - due) <= tolerance, qPrintable(QString::number(tally.due)));
            QCOMPARE(tally.answered, tally.due);
            QCOMPARE(tally.latency.count(), tally.due);
        }
        QCOMPARE(result.tallies.at(0).connect.count(), result.tallies.at(0).due);
        QCOMPARE(receiver.stats().framesValid + receiver.stats().documentsValid,
                 result.tallies.at(0).due + result.tallies.at(1).due);
    }

    void openLoopKeepsItsArrivals_data() {
        QTest::addColumn<QString>("maxInFlight");
        QTest::addColumn<qint64>("shortfall");
        QTest::newRow("room for all") << u"100"_s << qint64(0);
        QTest::newRow("room for 10: the rest is shortfall") << u"10"_s << qint64(30);
    }

    // A receiver answering after 300 ms does not slow the arrivals: 40 at 200/s
    // all fall due within 200 ms, so they are all in flight at once.
    void openLoopKeepsItsArrivals() {
        QFETCH(QString, maxInFlight);
        QFETCH(qint64, shortfall);
        ReceiverOptions options = receiverOptions();
        options.delayMs = 300;
        options.refuseType5 = true;
        Receiver receiver(options);
        QVERIFY(receiver.start());
        const LoadRun run =
            runEngine(receiver, args("--rate 200/s --count 40 --max-inflight") << maxInFlight);
        const LinkTally &type4 = run.tallies.at(0);
        QCOMPARE(type4.due, 40);
        QCOMPARE(type4.shortfall, shortfall);
        QCOMPARE(type4.answered, 40 - shortfall);
        // Timed from the due time: the 300 ms wait shows whole; had the run
        // waited for each answer it would have taken 12 s, not half a second.
        QVERIFY(type4.latency.valueAtPercentile(50) >= 300'000);
        QVERIFY2(run.seconds < 2.0, qPrintable(QString::number(run.seconds)));
    }

    void faultsByKind_data() {
        QTest::addColumn<QString>("misbehaviour");
        QTest::addColumn<int>("fault");
        QTest::newRow("refused") << u"refuse"_s << int(Fault::Refused);
        QTest::newRow("reset") << u"reset"_s << int(Fault::Reset);
        QTest::newRow("unanswered") << u"no-reply"_s << int(Fault::Unanswered);
        QTest::newRow("malformed") << u"reply NAK"_s << int(Fault::Malformed);
    }

    // Each fault is counted by kind on both links, and none stops the run.
    void faultsByKind() {
        QFETCH(QString, misbehaviour);
        QFETCH(int, fault);
        ReceiverOptions options = receiverOptions();
        options.refuseType4 = options.refuseType5 = misbehaviour == QLatin1String("refuse");
        options.resetConnections = misbehaviour == QLatin1String("reset");
        options.noReply = misbehaviour == QLatin1String("no-reply");
        if (misbehaviour.startsWith(QLatin1String("reply ")))
            options.reply = misbehaviour.mid(6).toLatin1();
        Receiver receiver(options);
        QVERIFY(receiver.start());
        const LoadRun run =
            runEngine(receiver, args("--rate 100/s --count 6 --timeout 300 --carriers 2"));
        for (const LinkTally &tally : run.tallies) {
            QCOMPARE(tally.due, 6);
            QCOMPARE(tally.answered, 0);
            QVERIFY2(tally.faults[size_t(fault)] == 6,
                     qPrintable(tally.name + QLatin1Char(' ') +
                                QString::number(tally.faults[size_t(fault)])));
            QCOMPARE(tally.faultCount(), 6);
            QCOMPARE(tally.inFlight, 0);
        }
    }

    void heartbeatsAnswered() {
        ReceiverOptions options = receiverOptions();
        options.heartbeatIntervalMs = 100;
        options.refuseType4 = true;
        Receiver receiver(options);
        QVERIFY(receiver.start());
        const LoadRun run = runEngine(receiver, args("--rate 20/s --duration 0.5"));
        const LinkTally &type5 = run.tallies.at(1);
        QCOMPARE(type5.answered, 10);
        QCOMPARE(type5.faultCount(), 0);
        QVERIFY(type5.heartbeatsAnswered >= 2);
        QCOMPARE(receiver.stats().heartbeatsAnswered, type5.heartbeatsAnswered);
        QCOMPARE(receiver.stats().heartbeatsNotAnswered, 0);
    }

    void framesOnTheWire_data() {
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QStringList>("details");
        QTest::newRow("canned in turn, terminal IDs in turn")
            << args("--record standard --record min --term-ids 100-102 --moli point")
            << args("term_100_len_0412_type_4_fields_52+46 "
                    "term_101_len_0219_type_4_fields_52+46 "
                    "term_102_len_0412_type_4_fields_52+46 "
                    "term_100_len_0219_type_4_fields_52+46");
        // Too many pairs of record and terminal ID to frame ahead: framed as they
        // go.
        QTest::newRow("canned in turn, thousands of terminal IDs")
            << args("--record all --term-ids 000-999")
            << args("term_000_len_0307_type_3_fields_52 "
                    "term_001_len_0159_type_3_fields_52 "
                    "term_002_len_0688_type_3_fields_52 "
                    "term_003_len_0114_type_3_fields_52");
        QTest::newRow("canned and data file in turn, each file frame its body's terminal ID")
            << QStringList{u"--data-file"_s,
                           QStringLiteral(TALVGEN_SOURCE_DIR "/samples/ipnd3.x01"), u"--record"_s,
                           u"max"_s}
            << args("term_999_len_0706_type_3_fields_52 "
                    "term_012_len_0255_type_3_fields_52 "
                    "term_999_len_0706_type_3_fields_52 "
                    "term_015_len_0241_type_3_fields_52");
    }

    // What talvrecv receives is what the window sends for those records.
    void framesOnTheWire() {
        QFETCH(QStringList, records);
        QFETCH(QStringList, details);
        ReceiverOptions options = receiverOptions();
        options.refuseType5 = true;
        Receiver receiver(options);
        QStringList received;
        connect(&receiver, &Receiver::recordReady, this, [&received](const QStringList &fields) {
            received << QString(fields.at(4) + QLatin1Char(' ') + fields.at(5))
                            .replace(QLatin1Char(' '), QLatin1Char('_'));
        });
        QVERIFY(receiver.start());
        const LoadRun run = runEngine(receiver, args("--rate 50/s --count 4") + records);
        QCOMPARE(run.tallies.at(0).answered, 4);
        QStringList expected;
        for (const QString &detail : details)
            expected << detail + u"_OK"_s;
        QCOMPARE(received, expected);
    }

    void ctrlCEndsWithTheSummary() {
        Receiver receiver(receiverOptions());
        QVERIFY(receiver.start());
        Printed printed;
        QTimer::singleShot(300, [] { std::raise(SIGINT); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(printed.run(loadArguments(receiver, args("--rate 20/s --duration 30"))), 0);
        QVERIFY(clock.elapsed() < 5'000);
        QVERIFY(
            printed.out.data().contains(", stopped by Ctrl-C (exchanges in flight not counted)"));
        QVERIFY(printed.out.data().contains("Result: PASS"));
    }

    void reports_data() {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QStringList>("run");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<int>("failures");
        QTest::newRow("1.2 s, all answered") << 0 << args("--rate 10/s --duration 1.2") << 0 << 0;
        QTest::newRow("p99 over the limit")
            << 30 << args("--rate 100/s --count 4 --p99-limit 20") << 1 << 2;
        QTest::newRow("p99 within the limit")
            << 30 << args("--rate 100/s --count 4 --p99-limit 500") << 0 << 0;
        QTest::newRow("unanswered over max failures")
            << 400 << args("--rate 100/s --count 4 --timeout 200") << 1 << 2;
        QTest::newRow("unanswered within max failures")
            << 400 << args("--rate 100/s --count 4 --timeout 200 --max-failures 4") << 0 << 0;
    }

    void reports() {
        QFETCH(int, delayMs);
        QFETCH(QStringList, run);
        QFETCH(int, exitStatus);
        QFETCH(int, failures);
        ReceiverOptions options = receiverOptions();
        options.delayMs = delayMs;
        Receiver receiver(options);
        QVERIFY(receiver.start());
        QTemporaryDir dir;
        const QString csv = dir.filePath(u"load.csv"_s);
        const QString junit = dir.filePath(u"load.xml"_s);
        Printed printed;
        const QStringList arguments =
            loadArguments(receiver, QStringList{u"--csv"_s, csv, u"--junit"_s, junit} << run);
        QCOMPARE(printed.run(arguments), exitStatus);
        QCOMPARE(printed.err.data(), QByteArray());
        QVERIFY(printed.out.data().contains(exitStatus ? "Result: FAIL: " : "Result: PASS"));

        QFile csvFile(csv);
        QVERIFY(csvFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csvFile.readAll().split('\n');
        QVERIFY(
            rows.at(0).startsWith("elapsed_s,link,target_per_s,sent,answered,failed,in_flight"));
        if (delayMs == 0) {
            // A status line a second, then the summary; a CSV row a second for each
            // link. A busy machine may hold the last arrival of the second past the
            // tick: what was sent by then is answered or still in flight, never lost.
            const QRegularExpressionMatch line =
                QRegularExpression(u"^1 s target 10/s \\| type4 sent (\\d+)/s in "
                                   "flight (\\d+) answered (\\d+) "_s)
                    .match(QString::fromLatin1(printed.out.data()));
            QVERIFY2(line.hasMatch(), printed.out.data().left(200).constData());
            QVERIFY(line.captured(1).toInt() >= 9);
            QCOMPARE(line.captured(2).toInt() + line.captured(3).toInt(), line.captured(1).toInt());
            for (const auto &[row, link] : {std::pair{1, "type4"}, std::pair{2, "type5"}}) {
                const QStringList cells = QString::fromLatin1(rows.at(row)).split(QLatin1Char(','));
                QCOMPARE(cells.mid(1, 2), (QStringList{QString::fromLatin1(link), u"10.0"_s}));
                QVERIFY(cells.at(3).toInt() >= 9);
                QCOMPARE(cells.at(4).toInt() + cells.at(6).toInt(), cells.at(3).toInt());
                QCOMPARE(cells.at(5), u"0"_s);
            }
        }

        // JUnit: one test case per link, a failure for each link over a limit.
        QFile junitFile(junit);
        QVERIFY(junitFile.open(QIODevice::ReadOnly));
        const QByteArray xml = junitFile.readAll();
        QCOMPARE(xml.count("<testcase "), 2);
        QVERIFY(xml.contains("name=\"type4\"") && xml.contains("name=\"type5\""));
        QCOMPARE(xml.count("<failure "), failures);
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("no link") << args("--rate 5/s --count 1")
                                 << QStringLiteral(
                                        "nothing to load: give --type4 or --type5 HOST:PORT");
        QTest::newRow("bad rate")
            << args("--type4 h:1 --rate fast --count 1")
            << u"--rate wants arrivals a second such as 500/s, not \"fast\""_s;
        QTest::newRow("bad ramp")
            << args("--type4 h:1 --ramp 1:2")
            << u"--ramp wants R0:R1:SECONDS such as 100:1000:60, not \"1:2\""_s;
        QTest::newRow("no end") << args("--type4 h:1 --rate 5/s")
                                << u"give --duration SECONDS or --count N"_s;
        QTest::newRow("bad term-ids")
            << args("--type4 h:1 --count 1 --term-ids 149-100")
            << u"--term-ids wants a range such as 100-149, not \"149-100\""_s;
        QTest::newRow("missing data file")
            << args("--type4 h:1 --count 1 --data-file /nonexistent/x.x01")
            << u"/nonexistent/x.x01: "_s + openError(u"/nonexistent/x.x01"_s);
    }

    void usageErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        Printed printed;
        const QStringList all = args("talvgen-cli load") + arguments;
        QCOMPARE(printed.run(all), 2);
        QCOMPARE(QString::fromLocal8Bit(printed.err.data()),
                 u"talvgen-cli load: %1\nTry 'talvgen-cli load --help'\n"_s.arg(error));
        QCOMPARE(printed.out.data(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestLoad)
#include "tst_load.moc"
