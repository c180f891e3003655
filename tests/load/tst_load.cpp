// SPDX-License-Identifier: GPL-3.0-or-later
// The load engine as a test engineer meets it: its arrivals, its histogram,
// each fault a misbehaving receiver can cause, and its reports, against the
// reference receiver on 127.0.0.1.
#include "arrivalschedule.h"
#include "latencyhistogram.h"
#include "loadengine.h"
#include "loadoptions.h"
#include "loadrecords.h"
#include "loadreport.h"
#include "loadrun.h"
#include "receiver.h"

#include <algorithm>
#include <cmath>
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

// Type 4 alone.
QStringList type4Arguments(const Receiver &receiver, const QStringList &extra) {
    return QStringList{u"talvgen-cli"_s, u"load"_s, u"--type4"_s,
                       u"127.0.0.1:%1"_s.arg(receiver.type4Port())} +
           extra;
}

// What a run of talvgen-cli load in-process prints; terminalColumns > 0:
// printed to a terminal that wide.
struct Printed {
    Printed() {
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
    }
    int run(const QStringList &arguments, int terminalColumns = 0) {
        StatusConsole console;
        console.terminal = terminalColumns > 0;
        console.columns = [terminalColumns] {
            return terminalColumns;
        };
        return runLoad(arguments, out, err, console);
    }
    QString text() const { return QString::fromLocal8Bit(out.data()); }
    QBuffer out;
    QBuffer err;
};

// The system's own words for a file that cannot be created.
QString createError(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) ? QString() : file.errorString();
}

QString readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The patterns that no line of the text matches.
QStringList unmatched(const QString &text, const QStringList &patterns) {
    QStringList missing;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &pattern : patterns) {
        const QRegularExpression re(pattern);
        if (std::none_of(lines.begin(), lines.end(),
                         [&re](const QString &line) { return re.match(line).hasMatch(); }))
            missing << pattern;
    }
    return missing;
}

} // namespace

class TestLoad : public QObject {
    Q_OBJECT

private slots:

    // Files the tests read: a data file with no line to send, and one whose
    // first line is longer than the reader holds.
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QFile shortFile(m_dir.filePath(u"short.x01"_s));
        QVERIFY(shortFile.open(QIODevice::WriteOnly));
        shortFile.write("a\tb\tc\t3|1200\na\tb\tc\t3|12AB903|x\n");
        shortFile.close();
        QFile longFile(m_dir.filePath(u"long.x01"_s));
        QVERIFY(longFile.open(QIODevice::WriteOnly));
        longFile.write("a\tb\tc\t3|12345678|" + QByteArray(9 * 1024 * 1024, 'L') + '\n');
        QFile sample(QStringLiteral(TALVGEN_SOURCE_DIR "/samples/refusals.x01"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        const QByteArray good = sample.readAll().trimmed().split('\n').constLast();
        QVERIFY(good.contains("3|1200901|"));
        longFile.write(good + '\n');
    }

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
        // What the status line and the CSV give as the target: the arrivals
        // due, counted the other way.
        const double due = schedule.arrivalsBy(seconds);
        QVERIFY2(qAbs(due - expectedArrivals) <= qMax(tolerance, 1),
                 qPrintable(QString::number(due)));
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

    void stopBySignal_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("refuseType4");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QStringList>("printed");
        QTest::addColumn<QStringList>("junit");
        const QString ran = u"^Ran [0-9.]+ s, stopped by %1: exchanges in flight not counted$"_s;
        QTest::newRow("Ctrl-C") << SIGINT << false << 130
                                << QStringList{ran.arg(u"Ctrl-C \\(SIGINT\\)"_s),
                                               u"^Result: STOPPED by SIGINT: nothing had failed$"_s}
                                << QStringList{
                                       u"skipped=\"2\""_s, u"failures=\"0\""_s,
                                       u"<property name=\"stopped_by\" value=\"SIGINT\"/>"_s,
                                       u"<skipped message=\"the run was stopped by Ctrl-C "
                                       "(SIGINT) after "_s};
        QTest::newRow("SIGTERM")
            << SIGTERM << false << 143
            << QStringList{ran.arg(u"SIGTERM"_s),
                           u"^Result: STOPPED by SIGTERM: nothing had failed$"_s}
            << QStringList{u"skipped=\"2\""_s,
                           u"<property name=\"stopped_by\" value=\"SIGTERM\"/>"_s,
                           u"<system-out>The run was stopped by SIGTERM "_s};
        // What had run is judged: a link already failing is a failure.
        QTest::newRow("SIGTERM after type4 failed")
            << SIGTERM << true << 1
            << QStringList{ran.arg(u"SIGTERM"_s),
                           u"^Result: STOPPED by SIGTERM: type4 failed: \\d+ arrivals? due and "
                           "none answered; \\d+ failures, more than the 0 allowed \\(refused \\d+,"_s}
            << QStringList{u"failures=\"1\""_s, u"skipped=\"1\""_s,
                           u"<property name=\"stopped_by\" value=\"SIGTERM\"/>"_s};
    }

    // A signal ends the run at once with the summary and the reports, each
    // saying what stopped it; the exit status tells a stopped run from one
    // that passed.
    void stopBySignal() {
        QFETCH(int, signalNumber);
        QFETCH(bool, refuseType4);
        QFETCH(int, exitStatus);
        QFETCH(QStringList, printed);
        QFETCH(QStringList, junit);
        ReceiverOptions options = receiverOptions();
        options.refuseType4 = refuseType4;
        Receiver receiver(options);
        QVERIFY(receiver.start());
        QTemporaryDir dir;
        const QString csv = dir.filePath(u"load.csv"_s);
        const QString xml = dir.filePath(u"load.xml"_s);
        Printed run;
        QTimer::singleShot(300, [signalNumber] { std::raise(signalNumber); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(run.run(loadArguments(receiver, {u"--rate"_s, u"20/s"_s, u"--duration"_s, u"30"_s,
                                                  u"--csv"_s, csv, u"--junit"_s, xml})),
                 exitStatus);
        // Stopped, not run to its end 30 s later.
        QVERIFY(clock.elapsed() < 20'000);
        const QStringList missing = unmatched(run.text(), printed);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u'\n') + u"\n"_s + run.text()));
        QVERIFY(!run.text().contains(u"Result: PASS"_s));
        const QString report = readAll(xml);
        for (const QString &part : junit)
            QVERIFY2(report.contains(part), qPrintable(part + u"\n"_s + report));
        QVERIFY(report.contains(u"</testsuites>"_s));
        QVERIFY(readAll(csv).startsWith(u"elapsed_s,"_s));
    }

    void reports_data() {
        QTest::addColumn<QString>("receiver");
        QTest::addColumn<QStringList>("run");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<int>("failures");
        QTest::addColumn<QStringList>("printed");
        QTest::addColumn<QString>("firstTarget"); // in the first CSV row; empty: no row
        // A busy machine may hold the last arrival of a second past the tick: what
        // was sent by then is answered or still in flight, never lost.
        QTest::newRow("1.2 s, all answered")
            << u"answer"_s << args("--rate 10/s --duration 1.2") << 0 << 0
            << QStringList{u"^1 s target 10/s \\| type4 sent (9|10)/s in flight \\d+ answered "
                           "\\d+ failed 0 p99 (\\d+\\.\\d{3} ms|-) \\| type5 sent "_s,
                           u"^Ran 1\\.[12] s$"_s, u"^type5: 1 carrier, heartbeats answered 0$"_s,
                           u"^Result: PASS$"_s}
            << u"10.0"_s;
        // The target of a second is what fell due in it: 20/s to 60/s over
        // 1.5 s has 33.3 arrivals due in the first second, not the 47/s the
        // plan has reached at its end. Low rates: under Wine on a busy
        // machine 300/s on both links is more than an answer in 2 s.
        QTest::newRow("ramp: the target of each second is its arrivals due")
            << u"answer"_s << args("--ramp 20:60:1.5") << 0 << 0
            << QStringList{u"^1 s target 33/s \\| type4 sent \\d+/s "_s, u"^Result: PASS$"_s}
            << u"33.3"_s;
        QTest::newRow("p99 over the limit")
            << u"delay 30"_s << args("--rate 100/s --count 4 --p99-limit 20") << 1 << 2
            << QStringList{u"^Result: FAIL: type4: p99 [0-9.]+ ms over the 20 ms limit; "_s}
            << QString();
        QTest::newRow("p99 within the limit")
            << u"delay 30"_s << args("--rate 100/s --count 4 --p99-limit 500") << 0 << 0
            << QStringList{u"^Result: PASS$"_s} << QString();
        QTest::newRow("unanswered over max failures")
            << u"delay 400"_s << args("--rate 100/s --count 4 --timeout 200") << 1 << 2
            << QStringList{u"^Result: FAIL: type4: 4 arrivals due and none answered; 4 failures, "
                           "more than the 0 allowed \\(refused 0, reset 0, closed 0, unanswered 4,"_s}
            << QString();
        // Allowed failures do not make a link that never answered pass.
        QTest::newRow("unanswered within max failures, nothing answered")
            << u"delay 400"_s << args("--rate 100/s --count 4 --timeout 200 --max-failures 4") << 1
            << 2
            << QStringList{u"^Result: FAIL: type4: 4 arrivals due and none answered; "
                           "type5: 4 arrivals due and none answered$"_s}
            << QString();
        QTest::newRow("shortfall within max failures")
            << u"delay 300"_s << args("--rate 100/s --count 4 --max-inflight 2 --max-failures 2")
            << 0 << 0
            << QStringList{u"^type4: due 4, sent 2, answered 2 \\([0-9.]+/s\\), failed 2 "
                           "\\(refused 0, reset 0, closed 0, unanswered 0, malformed 0, error 0, "
                           "shortfall 2\\)$"_s,
                           u"^Result: PASS$"_s}
            << QString();
        QTest::newRow("nothing listening, max failures 1000, p99 limit")
            << u"refuse"_s << args("--rate 100/s --duration 1.2 --max-failures 1000 --p99-limit 10")
            << 1 << 2
            << QStringList{u"^1 s target 100/s \\| type4 sent \\d+/s in flight \\d+ "
                           "answered 0 failed \\d+ p99 - \\| type5 "_s,
                           u"^type4: due 120, sent 120, answered 0 \\(0/s\\), failed 120 "
                           "\\(refused 120, "_s,
                           u"^type4 latency from due time: p50 -, p90 -, p99 -, p99.9 -, max -$"_s,
                           u"^type4 connect: p50 -, p90 -, p99 -, p99.9 -, max -$"_s,
                           u"^type5 latency from due time: p50 -, p90 -, p99 -, p99.9 -, max -$"_s,
                           u"^Result: FAIL: type4: 120 arrivals due and none answered; type5: 120 "
                           "arrivals due and none answered$"_s}
            << u"100.0"_s;
    }

    // The summary, the CSV and the JUnit report of a run, and its verdict.
    void reports() {
        QFETCH(QString, receiver);
        QFETCH(QStringList, run);
        QFETCH(int, exitStatus);
        QFETCH(int, failures);
        QFETCH(QStringList, printed);
        QFETCH(QString, firstTarget);
        ReceiverOptions options = receiverOptions();
        if (receiver.startsWith(u"delay "_s))
            options.delayMs = receiver.mid(6).toInt();
        options.refuseType4 = options.refuseType5 = receiver == u"refuse"_s;
        Receiver talvrecv(options);
        QVERIFY(talvrecv.start());
        QTemporaryDir dir;
        const QString csv = dir.filePath(u"load.csv"_s);
        const QString junit = dir.filePath(u"load.xml"_s);
        Printed printedRun;
        const QStringList arguments =
            loadArguments(talvrecv, QStringList{u"--csv"_s, csv, u"--junit"_s, junit} << run);
        QCOMPARE(printedRun.run(arguments), exitStatus);
        QCOMPARE(printedRun.err.data(), QByteArray());
        const QString out = printedRun.text();
        const QStringList missing = unmatched(out, printed);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u'\n') + u"\n"_s + out));

        // The answers a second are the answers over the length as printed.
        const QRegularExpressionMatch ran =
            QRegularExpression(u"^Ran ([0-9.]+) s"_s, QRegularExpression::MultilineOption)
                .match(out);
        QVERIFY(ran.hasMatch());
        const double seconds = ran.captured(1).toDouble();
        QRegularExpressionMatchIterator links =
            QRegularExpression(
                u"^type\\d: due \\d+, sent \\d+, answered (\\d+) \\(([0-9.]+)/s\\)"_s,
                QRegularExpression::MultilineOption)
                .globalMatch(out);
        int linksSeen = 0;
        for (; links.hasNext(); ++linksSeen) {
            const QRegularExpressionMatch link = links.next();
            const double expected = link.captured(1).toDouble() / seconds;
            QVERIFY2(qAbs(link.captured(2).toDouble() - expected) <= 0.05,
                     qPrintable(link.captured(0) + u" in "_s + ran.captured(0)));
        }
        QCOMPARE(linksSeen, 2);

        // A CSV row a second for each link; a second with no answer has no latency.
        QFile csvFile(csv);
        QVERIFY(csvFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csvFile.readAll().split('\n');
        QVERIFY(
            rows.at(0).startsWith("elapsed_s,link,target_per_s,sent,answered,failed,in_flight"));
        for (const QByteArray &row : rows.mid(1)) {
            if (row.trimmed().isEmpty())
                continue;
            const QStringList cells = QString::fromLatin1(row.trimmed()).split(QLatin1Char(','));
            QCOMPARE(cells.size(), 17);
            const bool answered = cells.at(4) != u"0"_s;
            for (int latency = 7; latency <= 9; ++latency)
                QVERIFY2(answered ? cells.at(latency).toLongLong() > 0
                                  : cells.at(latency).isEmpty(),
                         row.constData());
        }
        if (!firstTarget.isEmpty()) {
            for (const auto &[row, link] : {std::pair{1, "type4"}, std::pair{2, "type5"}}) {
                const QStringList cells = QString::fromLatin1(rows.at(row)).split(QLatin1Char(','));
                QCOMPARE(cells.mid(1, 2), (QStringList{QString::fromLatin1(link), firstTarget}));
                // No more than fell due; a busy machine may hold the last few past the tick.
                const double target = firstTarget.toDouble();
                const int sent = cells.at(3).toInt();
                QVERIFY2(sent <= std::ceil(target) && sent >= 0.9 * target,
                         rows.at(row).constData());
                // Sent: answered, failed, or still in flight at the tick.
                QCOMPARE(cells.at(4).toInt() + cells.at(5).toInt() + cells.at(6).toInt(),
                         cells.at(3).toInt());
            }
        }

        // JUnit: one test case per link, a failure for each link over a limit,
        // and no latency figure where nothing was answered.
        QFile junitFile(junit);
        QVERIFY(junitFile.open(QIODevice::ReadOnly));
        const QByteArray xml = junitFile.readAll();
        QCOMPARE(xml.count("<testcase "), 2);
        QVERIFY(xml.contains("name=\"type4\"") && xml.contains("name=\"type5\""));
        QCOMPARE(xml.count("<failure "), failures);
        QVERIFY(xml.contains(QByteArray("failures=\"") + QByteArray::number(failures) + '"'));
        QCOMPARE(xml.count("<skipped"), 0);
        for (qsizetype from = xml.indexOf("<testcase "); from >= 0;
             from = xml.indexOf("<testcase ", from + 1)) {
            const QByteArray whole = xml.mid(from, xml.indexOf("</testcase>", from) - from);
            const bool none = whole.contains(", answered 0,");
            QVERIFY2(none ? !whole.contains(" ms") && whole.contains("no latency")
                          : whole.contains("latency p50 "),
                     whole.constData());
        }
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
        QTest::newRow("data file with no line to send")
            << QStringList{u"--type4"_s, u"127.0.0.1:1"_s, u"--count"_s,
                           u"1"_s,       u"--data-file"_s, m_dir.filePath(u"short.x01"_s)}
            << m_dir.filePath(u"short.x01"_s) +
                   u": no record to send: 2 of its 2 lines refused, never sent: 1 body shorter "
                   "than 11 characters, 1 header is Non Numeric"_s;
        // Reports.
        QTest::newRow("CSV and JUnit in one file")
            << args("--type4 127.0.0.1:1 --count 1 --junit /nonexistent/r --csv /nonexistent/./r")
            << u"--junit and --csv name the same file \"/nonexistent/./r\"; each report needs "
               "its own"_s;
        QTest::newRow("a report over the data file")
            << args("--type4 127.0.0.1:1 --count 1 --data-file /nonexistent/d --csv /nonexistent/d")
            << u"--csv names the --data-file file \"/nonexistent/d\"; the report would "
               "overwrite it"_s;
        QTest::newRow("a report with no name")
            << QStringList{u"--type4"_s, u"127.0.0.1:1"_s, u"--count"_s,
                           u"1"_s,       u"--junit"_s,     QString()}
            << u"--junit wants a file name"_s;
        QTest::newRow("CSV that cannot be created")
            << args("--type4 127.0.0.1:1 --count 1 --csv /nonexistent/x.csv")
            << u"cannot create /nonexistent/x.csv: "_s + createError(u"/nonexistent/x.csv"_s);
        QTest::newRow("JUnit that cannot be created")
            << args("--type4 127.0.0.1:1 --count 1 --junit /nonexistent/x.xml")
            << u"cannot create /nonexistent/x.xml: "_s + createError(u"/nonexistent/x.xml"_s);
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

    void versionLine() {
        Printed printed;
        QCOMPARE(printed.run(args("talvgen-cli load --version")), 0);
        QCOMPARE(printed.text(), u"talvgen-cli %1.%2.%3\n"_s.arg(TALVGEN_VERSION_MAJOR)
                                     .arg(TALVGEN_VERSION_MINOR)
                                     .arg(TALVGEN_VERSION_PATCH));
        QCOMPARE(printed.err.data(), QByteArray());
    }

    void dataFileRefusals_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("refused"); // empty: none
        QTest::newRow("refusals.x01: seven refused, one sent")
            << QStringLiteral(TALVGEN_SOURCE_DIR "/samples/refusals.x01")
            << u"7 of its 8 lines refused, never sent: 2 not standard packet, 3 second or third "
               "tab not within 100 characters, 1 header is Non Numeric, 1 body shorter than 11 "
               "characters"_s;
        QTest::newRow("a line longer than the reader holds")
            << m_dir.filePath(u"long.x01"_s)
            << u"1 of its 2 lines refused, never sent: 1 line longer than 8388608 characters"_s;
        QTest::newRow("ipnd3.x01: none refused")
            << QStringLiteral(TALVGEN_SOURCE_DIR "/samples/ipnd3.x01") << QString();
    }

    // Data-file lines that are never sent are said once at the start, counted
    // by reason in the summary and the JUnit report; the rest go out.
    void dataFileRefusals() {
        QFETCH(QString, file);
        QFETCH(QString, refused);
        ReceiverOptions options = receiverOptions();
        options.refuseType5 = true;
        Receiver receiver(options);
        int received = 0;
        connect(&receiver, &Receiver::recordReady, this, [&received] { ++received; });
        QVERIFY(receiver.start());
        QTemporaryDir dir;
        const QString junit = dir.filePath(u"load.xml"_s);
        Printed printed;
        QCOMPARE(
            printed.run(type4Arguments(receiver, {u"--rate"_s, u"100/s"_s, u"--count"_s, u"5"_s,
                                                  u"--data-file"_s, file, u"--junit"_s, junit})),
            0);
        QCOMPARE(received, 5);
        const QString err = QString::fromLocal8Bit(printed.err.data());
        const QString out = printed.text();
        const QString xml = readAll(junit);
        if (refused.isEmpty()) {
            QCOMPARE(err, QString());
            QVERIFY(!out.contains(u"data file"_s));
            QVERIFY(!xml.contains(u"data file"_s));
            return;
        }
        QCOMPARE(err, u"talvgen-cli load: warning: %1: %2\n"_s.arg(file, refused));
        QVERIFY2(out.contains(u"\ntype4 data file: %1\n"_s.arg(refused)), qPrintable(out));
        QVERIFY(out.contains(u"\nResult: PASS\n"_s));
        QVERIFY2(xml.contains(u"; data file: "_s + refused), qPrintable(xml));
    }

    void statusLineFitsTheTerminal_data() {
        QTest::addColumn<int>("columns");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("left");
        const QStringList everything{
            u"12 s target 1000/s | type4 sent 1000/s in flight 250 answered 123456 failed 98 p99 "
            "12.345 ms | type5 sent 999/s in flight 0 answered 5 failed 0 p99 -"_s};
        QTest::newRow("not a terminal: the whole line") << 0 << everything << QStringList();
        QTest::newRow("wide enough for all") << 150 << everything << QStringList();
        QTest::newRow("no room for in flight")
            << 149
            << QStringList{u"12 s target 1000/s | type4 sent 1000/s answered 123456 failed 98 "
                           "p99 12.345 ms | type5 sent 999/s answered 5 failed 0 p99 -"_s}
            << QStringList{u"in flight"_s};
        QTest::newRow("100 columns: nor for answered")
            << 100
            << QStringList{u"12 s target 1000/s | type4 sent 1000/s failed 98 p99 12.345 ms | "
                           "type5 sent 999/s failed 0 p99 -"_s}
            << QStringList{u"in flight"_s, u"answered"_s};
        QTest::newRow("80 columns: fewer words")
            << 80
            << QStringList{u"12 s 1000/s | type4 1000/s failed 98 p99 12.345ms | type5 999/s "
                           "failed 0 p99 -"_s}
            << QStringList{u"target"_s, u"sent"_s};
        QTest::newRow("30 columns: cut")
            << 30 << QStringList{u"12 s 1000/s | type4 1000/s"_s} << QStringList{u"type5"_s};
        QTest::newRow("2 columns") << 2 << QStringList{u"1"_s} << QStringList{u"12"_s};
    }

    // On a terminal the line never fills the last column (or it would wrap
    // and leave a copy behind each second); the least useful figures go first.
    void statusLineFitsTheTerminal() {
        QFETCH(int, columns);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, left);
        LinkTally type4;
        type4.name = u"type4"_s;
        type4.sentLastSecond = 1000;
        type4.inFlight = 250;
        type4.answered = 123456;
        type4.shortfall = 98;
        type4.lastSecond.record(12'345);
        LinkTally type5;
        type5.name = u"type5"_s;
        type5.sentLastSecond = 999;
        type5.answered = 5;
        const QString line = statusLine(12, 1000, {&type4, &type5}, columns);
        if (columns > 0)
            QVERIFY2(line.size() < columns, qPrintable(line));
        for (const QString &part : shown)
            QVERIFY2(line.contains(part), qPrintable(part + u" not in "_s + line));
        for (const QString &part : left)
            QVERIFY2(!line.contains(part), qPrintable(part + u" in "_s + line));
    }

    // Redrawn in place: each line as wide as the room, none wider.
    void statusLineOnATerminal() {
        Receiver receiver(receiverOptions());
        QVERIFY(receiver.start());
        Printed printed;
        QCOMPARE(printed.run(loadArguments(receiver, args("--rate 20/s --duration 2.2")), 60), 0);
        const QString out = printed.text();
        const QString status = out.left(out.indexOf(u"\n==== "_s));
        const QStringList lines = status.split(u'\r', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 2, qPrintable(out));
        for (int second = 1; second <= lines.size(); ++second) {
            const QString &line = lines.at(second - 1);
            QVERIFY2(line.size() == 59 && line.startsWith(u"%1 s "_s.arg(second)) &&
                         line.contains(u" | type5 "_s),
                     qPrintable(line));
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestLoad)
#include "tst_load.moc"
