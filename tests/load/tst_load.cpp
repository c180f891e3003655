// SPDX-License-Identifier: GPL-3.0-or-later
// The load engine as a test engineer meets it: its arrivals, each fault a
// misbehaving receiver can cause, and its reports, against the reference
// receiver on 127.0.0.1.
#include "arrivalschedule.h"
#include "loadengine.h"
#include "loadoptions.h"
#include "loadrecords.h"
#include "loadreport.h"
#include "loadrun.h"
#include "receiver.h"
#include "receiverwords.h"
#include "testtext.h"

#include <cmath>
#include <csignal>

#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

// The system's own words for a file that cannot be opened so.
QString fileError(const QString &path, QIODevice::OpenMode mode) {
    QFile file(path);
    return file.open(mode) ? QString() : file.errorString();
}

QString readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// talvgen-cli load against the receiver, on both links or Type 4 alone; a
// refused side is aimed at port 1, where nobody listens.
QStringList loadArguments(const Receiver &receiver, const QStringList &extra, bool type5 = true) {
    const auto at = [](quint16 port) {
        return u"127.0.0.1:%1"_s.arg(port ? port : 1);
    };
    QStringList arguments = words("talvgen-cli load --type4") << at(receiver.type4Port());
    if (type5)
        arguments << u"--type5"_s << at(receiver.type5Port());
    return arguments + extra;
}

struct LoadRun {
    std::vector<LinkTally> tallies;
    double seconds = 0;
};

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

// A link's tally in few words, each kind of fault only when counted.
QString figures(const LinkTally &t) {
    QString text = u"due %1 sent %2 answered %3"_s.arg(t.due).arg(t.sent).arg(t.answered);
    if (t.shortfall)
        text += u" shortfall %1"_s.arg(t.shortfall);
    for (const Outcome kind : kLoadFaults)
        if (t.faultsOf(kind))
            text += u" %1 %2"_s.arg(outcomeText(kind)).arg(t.faultsOf(kind));
    return text;
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
    QString errText() const { return QString::fromLocal8Bit(err.data()); }
    QBuffer out;
    QBuffer err;
};

} // namespace

Q_DECLARE_METATYPE(RatePlan)

class TestLoad : public QObject {
    Q_OBJECT

private slots:

    // A data file with no line to send.
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QFile shortFile(m_dir.filePath(u"short.x01"_s));
        QVERIFY(shortFile.open(QIODevice::WriteOnly));
        shortFile.write("a\tb\tc\t3|1200\na\tb\tc\t3|12AB903|x\n");
        shortFile.close();
    }

    void schedule_data() {
        QTest::addColumn<RatePlan>("plan");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("expectedArrivals");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("constant 100/s, 1 s") << RatePlan{100, 100, 0, false, 7} << 1.0 << 100 << 0;
        QTest::newRow("ramp then steady") << RatePlan{100, 200, 1, false, 7} << 2.0 << 350 << 1;
        QTest::newRow("poisson keeps the mean")
            << RatePlan{1000, 1000, 0, true, 7} << 10.0 << 10'000 << 300;
    }

    void schedule() {
        QFETCH(RatePlan, plan);
        QFETCH(double, seconds);
        QFETCH(int, expectedArrivals);
        QFETCH(int, tolerance);
        ArrivalSchedule schedule(plan);
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

    // The engine's tally of each link against a receiver (see receiverOptions):
    // the arrivals of the plan, each answer timed from its due time; a fault of
    // each kind counted by kind, none stopping the run. A receiver answering
    // after 300 ms does not slow the arrivals: 40 at 200/s all fall due within
    // 200 ms, those beyond --max-inflight a shortfall.
    void engine_data() {
        QTest::addColumn<QString>("receiver");
        QTest::addColumn<QStringList>("run");
        QTest::addColumn<QStringList>("expected"); // figures() of type4, type5 (if not the same)
        QTest::addColumn<QStringList>("frames"); // what talvrecv read, in order; checked when given
        const auto row = [](const char *name, const char *receiver, const char *run,
                            const char *type4, const char *type5 = nullptr,
                            const char *frames = "") {
            QTest::newRow(name) << QString::fromLatin1(receiver) << words(run)
                                << texts({type4, type5 ? type5 : type4}) << words(frames);
        };
        row("count", "answer", "--rate 500/s --count 37", "due 37 sent 37 answered 37");
        const char *faults = "--rate 100/s --count 6 --timeout 300 --carriers 2";
        row("refused", "refuse", faults, "due 6 sent 6 answered 0 refused 6");
        row("reset", "reset", faults, "due 6 sent 6 answered 0 reset 6");
        row("unanswered", "no-reply", faults, "due 6 sent 6 answered 0 unanswered 6");
        row("malformed", "reply NAK", faults, "due 6 sent 6 answered 0 malformed 6");
        row("slow receiver, room for 10", "delay 300", "--rate 200/s --count 40 --max-inflight 10",
            "due 40 sent 10 answered 10 shortfall 30");
        // All due at once: the link holds its limit within one wake too.
        row("all due at once, room for 3", "delay 300",
            "--rate 1000000/s --count 20 --max-inflight 3",
            "due 20 sent 3 answered 3 shortfall 17");
        row("heartbeats answered", "heartbeat 100 refuse4", "--rate 20/s --duration 0.5",
            "due 10 sent 10 answered 0 refused 10", "due 10 sent 10 answered 10");
        // What talvrecv receives is what the window sends for those records; with
        // too many pairs of record and terminal ID to frame ahead, framed as they go.
        const char *four = "due 4 sent 4 answered 4",
                   *refused = "due 4 sent 4 answered 0 refused 4";
        row("canned in turn, terminal IDs in turn", "refuse5",
            "--rate 50/s --count 4 --record standard --record min --term-ids 100-102 --moli point",
            four, refused,
            "term_100_len_0412_type_4_fields_52+46_OK term_101_len_0219_type_4_fields_52+46_OK "
            "term_102_len_0412_type_4_fields_52+46_OK term_100_len_0219_type_4_fields_52+46_OK");
        row("canned in turn, thousands of terminal IDs", "refuse5",
            "--rate 50/s --count 4 --record all --term-ids 000-999", four, refused,
            "term_000_len_0307_type_3_fields_52_OK term_001_len_0159_type_3_fields_52_OK "
            "term_002_len_0688_type_3_fields_52_OK term_003_len_0114_type_3_fields_52_OK");
        row("canned and data file in turn, each file frame its body's terminal ID", "refuse5",
            "--rate 50/s --count 4 --data-file @samples/ipnd3.x01 --record max", four, refused,
            "term_999_len_0706_type_3_fields_52_OK term_012_len_0255_type_3_fields_52_OK "
            "term_999_len_0706_type_3_fields_52_OK term_015_len_0241_type_3_fields_52_OK");
    }

    void engine() {
        QFETCH(QString, receiver);
        QFETCH(QStringList, run);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, frames);
        const ReceiverOptions options = receiverOptions(receiver);
        Receiver talvrecv(options);
        QStringList received;
        connect(&talvrecv, &Receiver::recordReady, this, [&received](const QStringList &fields) {
            received << QStringList(fields.mid(4, 2)).join(u'_').replace(u' ', u'_');
        });
        QVERIFY(talvrecv.start());
        const LoadRun result = runEngine(
            talvrecv,
            run.replaceInStrings(u"@samples"_s, QStringLiteral(TALVGEN_SOURCE_DIR "/samples")));
        QCOMPARE(QStringList({figures(result.tallies.at(0)), figures(result.tallies.at(1))}),
                 expected);
        for (const LinkTally &tally : result.tallies) {
            QCOMPARE(tally.inFlight, 0);
            if (tally.answered > 0) // timed from the due time: the delay shows whole
                QVERIFY(tally.latency.valueAtPercentile(50) >= options.delayMs * 1000);
        }
        // Had the run waited for each answer it would have taken 12 s, not half a second.
        QVERIFY2(result.seconds < 2.0, qPrintable(QString::number(result.seconds)));
        if (!options.refuseType4)
            QCOMPARE(result.tallies.at(0).connect.count(), result.tallies.at(0).sent);
        const LinkTally &type5 = result.tallies.at(1);
        QCOMPARE(talvrecv.stats().heartbeatsAnswered, type5.heartbeatsAnswered);
        QCOMPARE(talvrecv.stats().heartbeatsNotAnswered, 0);
        if (options.heartbeatIntervalMs > 0)
            QVERIFY(type5.heartbeatsAnswered >= 2);
        if (!frames.isEmpty())
            QCOMPARE(received, frames);
    }

    void reports_data() {
        QTest::addColumn<QString>("receiver");
        QTest::addColumn<QStringList>("run");
        QTest::addColumn<int>("signalNumber"); // raised 300 ms into the run; 0: none
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<int>("failures");
        QTest::addColumn<QStringList>("printed"); // patterns, on the summary and the JUnit report
        QTest::addColumn<QString>("firstTarget"); // in the first CSV row; empty: no row
        // A busy machine may hold the last arrival of a second past the tick: what
        // was sent by then is answered or still in flight, never lost.
        QTest::newRow("1.2 s, all answered")
            << u"answer"_s << words("--rate 10/s --duration 1.2") << 0 << 0 << 0
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
            << u"answer"_s << words("--ramp 20:60:1.5") << 0 << 0 << 0
            << QStringList{u"^1 s target 33/s \\| type4 sent \\d+/s "_s, u"^Result: PASS$"_s}
            << u"33.3"_s;
        QTest::newRow("p99 over the limit")
            << u"delay 30"_s << words("--rate 100/s --count 4 --p99-limit 20") << 0 << 1 << 2
            << QStringList{u"^Result: FAIL: type4: p99 [0-9.]+ ms over the 20 ms limit; "_s}
            << QString();
        // Allowed failures do not make a link that never answered pass.
        QTest::newRow("unanswered within max failures, nothing answered")
            << u"delay 400"_s << words("--rate 100/s --count 4 --timeout 200 --max-failures 4") << 0
            << 1 << 2
            << QStringList{u"^Result: FAIL: type4: 4 arrivals due and none answered; "
                           "type5: 4 arrivals due and none answered$"_s}
            << QString();
        QTest::newRow("shortfall within max failures")
            << u"delay 300"_s << words("--rate 100/s --count 4 --max-inflight 2 --max-failures 2")
            << 0 << 0 << 0
            << QStringList{u"^type4: due 4, sent 2, answered 2 \\([0-9.]+/s\\), failed 2 "
                           "\\(refused 0, reset 0, closed 0, unanswered 0, malformed 0, error 0, "
                           "shortfall 2\\)$"_s,
                           u"^Result: PASS$"_s}
            << QString();
        QTest::newRow("nothing listening, max failures 1000, p99 limit")
            << u"refuse"_s
            << words("--rate 100/s --duration 1.2 --max-failures 1000 --p99-limit 10") << 0 << 1
            << 2
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
        // Data-file lines that are never sent are said once at the start, on
        // stderr, and counted by reason in the summary and the JUnit report; the
        // rest go out.
        const QString refused = u"7 of its 8 lines refused, never sent: 2 not standard packet, 3 "
                                "second or third tab not within 100 characters, 1 header is Non "
                                "Numeric, 1 body shorter than 11 characters"_s;
        QTest::newRow("data-file lines refused")
            << u"answer"_s << words("--rate 100/s --count 5 --data-file @samples/refusals.x01") << 0
            << 0 << 0
            << QStringList{u"^talvgen-cli load: warning: \\S+/samples/refusals\\.x01: "_s +
                               refused + u"$"_s,
                           u"^type4 data file: "_s + refused + u"$"_s, u"; data file: "_s + refused,
                           u"^type4: due 5, sent 5, answered 5 "_s, u"^Result: PASS$"_s}
            << QString();
        // A signal ends the run at once with the summary and the reports, each
        // saying what stopped it; the exit status tells a stopped run from one
        // that passed, and what had run is judged.
        const QString ran = u"^Ran [0-9.]+ s, stopped by %1: exchanges in flight not counted$"_s;
        const QStringList thirtySeconds = words("--rate 20/s --duration 30");
        QTest::newRow("Ctrl-C")
            << u"answer"_s << thirtySeconds << SIGINT << 130 << 0
            << QStringList{ran.arg(u"Ctrl-C \\(SIGINT\\)"_s),
                           u"^Result: STOPPED by SIGINT: nothing had failed$"_s,
                           u"<property name=\"stopped_by\" value=\"SIGINT\"/>"_s,
                           u"<skipped message=\"the run was stopped by Ctrl-C \\(SIGINT\\) after "_s,
                           u"<system-out>The run was stopped by Ctrl-C \\(SIGINT\\) "_s}
            << QString();
        QTest::newRow("SIGTERM after type4 failed")
            << u"refuse4"_s << thirtySeconds << SIGTERM << 1 << 1
            << QStringList{ran.arg(u"SIGTERM"_s),
                           u"^Result: STOPPED by SIGTERM: type4 failed: \\d+ arrivals? due and "
                           "none answered; \\d+ failures, more than the 0 allowed \\(refused \\d+,"_s,
                           u"<property name=\"stopped_by\" value=\"SIGTERM\"/>"_s}
            << QString();
    }

    // The summary, the CSV and the JUnit report of a run, and its verdict.
    void reports() {
        QFETCH(QString, receiver);
        QFETCH(QStringList, run);
        QFETCH(int, signalNumber);
        QFETCH(int, exitStatus);
        QFETCH(int, failures);
        QFETCH(QStringList, printed);
        QFETCH(QString, firstTarget);
        Receiver talvrecv(receiverOptions(receiver));
        QVERIFY(talvrecv.start());
        QTemporaryDir dir;
        const QString csv = dir.filePath(u"load.csv"_s);
        const QString junit = dir.filePath(u"load.xml"_s);
        if (signalNumber)
            QTimer::singleShot(300, [signalNumber] { std::raise(signalNumber); });
        Printed printedRun;
        run.replaceInStrings(u"@samples"_s, QStringLiteral(TALVGEN_SOURCE_DIR "/samples"));
        QCOMPARE(printedRun.run(loadArguments(talvrecv, words("--csv") << csv << u"--junit"_s
                                                                       << junit << run)),
                 exitStatus);
        const QString err = printedRun.errText();
        const QString out = printedRun.text();
        const QString xml = readAll(junit);
        const QStringList missing = unmatched(err + out + u'\n' + xml, printed);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u'\n') + u"\n"_s + err + out + xml));
        QCOMPARE(err.count(u'\n'), printed.first().contains(u"warning: "_s) ? 1 : 0);

        // A CSV row a second for each link, from the first second on.
        const QStringList rows = readAll(csv).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(rows.value(0).startsWith(
            u"elapsed_s,link,target_per_s,sent,answered,failed,in_flight"_s));
        QCOMPARE(rows.size() > 1, !firstTarget.isEmpty());
        for (int row = 1; row <= 2 && !firstTarget.isEmpty(); ++row) {
            const QStringList cells = rows.at(row).trimmed().split(u',');
            QCOMPARE(cells.size(), 17);
            QCOMPARE(cells.mid(1, 2),
                     (QStringList{row == 1 ? u"type4"_s : u"type5"_s, firstTarget}));
            // No more than fell due; a busy machine may hold the last few past the tick.
            const double target = firstTarget.toDouble();
            const int sent = cells.at(3).toInt();
            QVERIFY2(sent <= std::ceil(target) && sent >= 0.9 * target, qPrintable(rows.at(row)));
            // Sent: answered, failed, or still in flight at the tick.
            QCOMPARE(cells.at(4).toInt() + cells.at(5).toInt() + cells.at(6).toInt(), sent);
        }

        // JUnit: one test case per link, a failure for each link over a limit, a
        // stopped run's other links skipped, and no latency figure where nothing
        // was answered.
        QCOMPARE((QList<qsizetype>{xml.count(u"<testcase "_s), xml.count(u"name=\"type4\""_s),
                                   xml.count(u"name=\"type5\""_s), xml.count(u"<failure "_s),
                                   xml.count(u"<skipped"_s)}),
                 (QList<qsizetype>{2, 1, 1, failures, signalNumber ? 2 - failures : 0}));
        QVERIFY(xml.contains(u"failures=\"%1\""_s.arg(failures)) &&
                xml.contains(u"</testsuites>"_s));
        for (const QString &testCase : xml.split(u"<testcase "_s).mid(1)) {
            const QString whole = testCase.left(testCase.indexOf(u"</testcase>"_s));
            QVERIFY2(whole.contains(u", answered 0,"_s)
                         ? !whole.contains(u" ms"_s) && whole.contains(u"no latency"_s)
                         : whole.contains(u"latency p50 "_s),
                     qPrintable(whole));
        }
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        const auto usage = [](const char *name, const QStringList &arguments,
                              const QString &error) {
            QTest::newRow(name) << arguments << error;
        };
        usage("no link", words("--rate 5/s --count 1"),
              u"nothing to load: give --type4 or --type5 HOST:PORT"_s);
        usage("bad rate", words("--type4 h:1 --rate fast --count 1"),
              u"--rate wants arrivals a second such as 500/s, not \"fast\""_s);
        usage("bad ramp", words("--type4 h:1 --ramp 1:2"),
              u"--ramp wants R0:R1:SECONDS such as 100:1000:60, not \"1:2\""_s);
        usage("no end", words("--type4 h:1 --rate 5/s"), u"give --duration SECONDS or --count N"_s);
        usage("bad term-ids", words("--type4 h:1 --count 1 --term-ids 149-100"),
              u"--term-ids wants a range such as 100-149, not \"149-100\""_s);
        usage("missing data file", words("--type4 h:1 --count 1 --data-file /nonexistent/x.x01"),
              u"/nonexistent/x.x01: "_s + fileError(u"/nonexistent/x.x01"_s, QIODevice::ReadOnly));
        const QString shortFile = m_dir.filePath(u"short.x01"_s);
        usage("data file with no line to send",
              words("--type4 127.0.0.1:1 --count 1 --data-file") << shortFile,
              shortFile + u": no record to send: 2 of its 2 lines refused, never sent: 1 body "
                          "shorter than 11 characters, 1 header is Non Numeric"_s);
        usage("CSV and JUnit in one file",
              words("--type4 127.0.0.1:1 --count 1 --junit /nonexistent/r --csv /nonexistent/./r"),
              u"--junit and --csv name the same file \"/nonexistent/./r\"; each report needs "
              "its own"_s);
        usage(
            "a report over the data file",
            words("--type4 127.0.0.1:1 --count 1 --data-file /nonexistent/d --csv /nonexistent/d"),
            u"--csv names the --data-file file \"/nonexistent/d\"; the report would "
            "overwrite it"_s);
        usage("a report with no name", words("--type4 127.0.0.1:1 --count 1 --junit") << QString(),
              u"--junit wants a file name"_s);
        usage("a report that cannot be created",
              words("--type4 127.0.0.1:1 --count 1 --junit /nonexistent/x"),
              u"cannot create /nonexistent/x: "_s +
                  fileError(u"/nonexistent/x"_s, QIODevice::WriteOnly));
    }

    void usageErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        Printed printed;
        QCOMPARE(printed.run(words("talvgen-cli load") + arguments), 2);
        QCOMPARE(printed.errText(),
                 u"talvgen-cli load: %1\nTry 'talvgen-cli load --help'\n"_s.arg(error));
        QCOMPARE(printed.text(), QString());
    }

    void statusLineFitsTheTerminal_data() {
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("line");
        const QString everything =
            u"12 s target 1000/s | type4 sent 1000/s in flight 250 answered 123456 failed 98 p99 "
            "12.345 ms | type5 sent 999/s in flight 0 answered 5 failed 0 p99 -"_s;
        QTest::newRow("not a terminal: the whole line") << 0 << everything;
        QTest::newRow("wide enough for all") << 150 << everything;
        QTest::newRow("no room for in flight")
            << 149
            << u"12 s target 1000/s | type4 sent 1000/s answered 123456 failed 98 p99 12.345 ms | "
               "type5 sent 999/s answered 5 failed 0 p99 -"_s;
        QTest::newRow("100 columns: nor for answered")
            << 100
            << u"12 s target 1000/s | type4 sent 1000/s failed 98 p99 12.345 ms | type5 sent "
               "999/s failed 0 p99 -"_s;
        QTest::newRow("80 columns: fewer words")
            << 80
            << u"12 s 1000/s | type4 1000/s failed 98 p99 12.345ms | type5 999/s failed 0 p99 -"_s;
        QTest::newRow("30 columns: cut") << 30 << u"12 s 1000/s | type4 1000/s fa"_s;
        QTest::newRow("2 columns") << 2 << u"1"_s;
    }

    // On a terminal the line never fills the last column (or it would wrap
    // and leave a copy behind each second); the least useful figures go first.
    void statusLineFitsTheTerminal() {
        QFETCH(int, columns);
        QFETCH(QString, line);
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
        QCOMPARE(statusLine(12, 1000, {&type4, &type5}, columns), line);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestLoad)
#include "tst_load.moc"
