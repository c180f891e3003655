// SPDX-License-Identifier: GPL-3.0-or-later
// Test plans as a test engineer runs them: each expectation judged from what the
// connection does, the thresholds, and whole plans (the samples among them)
// against the reference receiver on 127.0.0.1.
#include "planreport.h"
#include "planrun.h"
#include "receiver.h"
#include "receiverwords.h"
#include "stepjudge.h"
#include "testtext.h"

#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

// An expectation as a row words it: "answer ^ACK", "no_answer", "closed",
// "heartbeat", joined by ", "; within 500 ms.
Expectation expectation(const QString &words) {
    Expectation e;
    e.withinUs = 500'000;
    for (const QString &part : words.split(u", "_s, Qt::SkipEmptyParts)) {
        if (part.startsWith(u"answer "_s))
            e.answer = QRegularExpression(part.mid(7));
        e.noAnswer |= part == u"no_answer"_s;
        e.closed |= part == u"closed"_s;
        e.heartbeat |= part == u"heartbeat"_s;
    }
    return e;
}

// Feeds the judge the events of a row, in order: "sent", "got TEXT" (all that has come so
// far), "heartbeat", "closed", "reset", "refused", "deadline".
StepJudge judged(const QString &expect, const QStringList &events) {
    StepJudge judge(expectation(expect));
    for (const QString &event : events) {
        qsizetype used = 0;
        if (event == u"sent"_s)
            judge.sent();
        else if (event.startsWith(u"got "_s))
            judge.arrived(event.mid(4).toLatin1(), &used);
        else if (event == u"heartbeat"_s)
            judge.heartbeat();
        else if (event == u"closed"_s)
            judge.ended(Outcome::Closed);
        else if (event == u"reset"_s)
            judge.ended(Outcome::Reset);
        else if (event == u"refused"_s)
            judge.ended(Outcome::Refused, u"Connection refused"_s);
        else if (event == u"deadline"_s)
            judge.deadline();
    }
    return judge;
}

const char *verdictName(StepJudge::Verdict verdict) {
    switch (verdict) {
    case StepJudge::Verdict::Waiting:
        return "waiting";
    case StepJudge::Verdict::Passed:
        return "passed";
    case StepJudge::Verdict::Failed:
        return "failed";
    case StepJudge::Verdict::Error:
        return "error";
    }
    return "?";
}

// talvgen-cli plan in-process, against a receiver.
struct PlanOutput {
    int status = -1;
    QString out;
    QString err;
};

PlanOutput runPlanCommand(const QStringList &arguments) {
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    PlanOutput result;
    result.status = runPlan(QStringList{u"talvgen-cli"_s, u"plan"_s} + arguments, out, err);
    result.out = QString::fromLocal8Bit(out.data());
    result.err = QString::fromLocal8Bit(err.data());
    return result;
}

QStringList targetsOf(const Receiver &receiver) {
    return {
        u"--set"_s, u"type4=127.0.0.1:%1"_s.arg(receiver.type4Port() ? receiver.type4Port() : 1),
        u"--set"_s, u"type5=127.0.0.1:%1"_s.arg(receiver.type5Port() ? receiver.type5Port() : 1)};
}

QString readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString sample(const char *name) {
    return QStringLiteral(TALVGEN_SOURCE_DIR "/samples/plans/") + QLatin1String(name);
}

} // namespace

class TestPlanRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Each expectation, judged from what its connection does in turn.
    void judge_data() {
        QTest::addColumn<QString>("expect");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("outcome"); // then ": detail" when it failed
        const auto row = [](const char *name, const char *expect, const char *events,
                            const char *verdict, const char *outcome) {
            QTest::newRow(name) << QString::fromLatin1(expect)
                                << QString::fromLatin1(events).split(u'/', Qt::SkipEmptyParts)
                                << QString::fromLatin1(verdict) << QString::fromUtf8(outcome);
        };
        row("nothing to wait for: passes once sent", "", "sent", "passed", "sent");
        row("answer matched", "answer ^ACK", "sent/got ACK", "passed", "answered");
        row("answer still coming", "answer ^ACK$", "sent/got AC", "waiting", "");
        row("answer in pieces", "answer ^ACK$", "sent/got AC/got ACK", "passed", "answered");
        row("answer never came", "answer ^ACK", "sent/deadline", "failed",
            "unanswered: no answer within 500 ms");
        row("wrong answer", "answer ^ACK", "sent/got NAK/deadline", "failed",
            "malformed: the answer \"NAK\" does not match /^ACK/");
        row("closed before the answer", "answer ^ACK", "sent/got NA/closed", "failed",
            "closed: closed before an answer matching /^ACK/ (got \"NA\")");
        row("reset before the answer", "answer ^ACK", "sent/reset", "failed",
            "reset: reset before an answer matching /^ACK/ (nothing came)");
        row("refused is an error", "answer ^ACK", "refused", "error",
            "refused: the connection was refused: Connection refused");
        row("answer, then closed", "answer ^ACK, closed", "sent/got ACK/closed", "passed",
            "closed");
        row("answer, never closed", "answer ^ACK, closed", "sent/got ACK/deadline", "failed",
            "still open: not closed within 500 ms");
        row("closed", "closed", "sent/closed", "passed", "closed");
        row("reset counts as closed", "closed", "sent/reset", "passed", "reset");
        row("an answer does not close", "closed", "sent/got ACK/deadline", "failed",
            "still open: not closed within 500 ms");
        row("no answer held", "no_answer", "sent/deadline", "passed", "no answer");
        row("no answer, but one came", "no_answer", "sent/got ACK", "failed",
            "answered: an answer came: \"ACK\"");
        row("the first answer that breaks no_answer stands", "no_answer", "sent/got A/got AB",
            "failed", "answered: an answer came: \"A\"");
        row("no answer, the receiver closed", "no_answer", "sent/closed", "passed", "closed");
        row("heartbeat", "heartbeat", "heartbeat", "passed", "heartbeat answered");
        row("no heartbeat", "heartbeat", "deadline", "failed",
            "no heartbeat: no heartbeat within 500 ms");
        row("closed before a heartbeat", "heartbeat", "closed", "failed",
            "closed: link 2 closed before a heartbeat");
        row("the first verdict stands", "answer ^ACK", "sent/got ACK/reset/deadline", "passed",
            "answered");
    }

    void judge() {
        QFETCH(QString, expect);
        QFETCH(QStringList, events);
        QFETCH(QString, verdict);
        QFETCH(QString, outcome);
        const StepJudge judge = judged(expect, events);
        QCOMPARE(QLatin1String(verdictName(judge.verdict())), verdict);
        QString said = judge.outcome();
        if (!judge.detail().isEmpty())
            said += u": "_s + judge.detail();
        QCOMPARE(said, outcome);
    }

    // An answer on link 2 takes only its own bytes; the next document's answer stays.
    void answerTakesItsOwnBytes() {
        StepJudge judge(expectation(u"answer ACK"_s));
        qsizetype used = 0;
        QCOMPARE(judge.arrived("ACKACK", &used), StepJudge::Verdict::Passed);
        QCOMPARE(used, 3);
        QCOMPARE(judge.answer(), QByteArray("ACK"));
    }

    void thresholds_data() {
        QTest::addColumn<QList<qint64>>("answersUs");
        QTest::addColumn<qint64>("p99LimitUs");
        QTest::addColumn<int>("failuresLimit");
        QTest::addColumn<qint64>("failedSteps");
        QTest::addColumn<QStringList>("checks");
        QTest::newRow("held") << QList<qint64>{100'000, 200'000} << qint64(300'000) << 0
                              << qint64(0)
                              << texts({"p99 300.0 ms 200.0 ms held", "failures 0 0 held"});
        QTest::newRow("on the limit holds")
            << QList<qint64>{300'000} << qint64(300'000) << 1 << qint64(1)
            << texts({"p99 300.0 ms 300.0 ms held", "failures 1 1 held"});
        QTest::newRow("breached") << QList<qint64>{100'000, 400'000} << qint64(300'000) << 0
                                  << qint64(2)
                                  << texts({"p99 300.0 ms 400.0 ms breached",
                                            "failures 0 2 breached"});
        QTest::newRow("no answers is no evidence")
            << QList<qint64>{} << qint64(300'000) << 0 << qint64(0)
            << texts({"p99 300.0 ms no answers breached", "failures 0 0 held"});
    }

    void thresholds() {
        QFETCH(QList<qint64>, answersUs);
        QFETCH(qint64, p99LimitUs);
        QFETCH(int, failuresLimit);
        QFETCH(qint64, failedSteps);
        QFETCH(QStringList, checks);
        ResponseStats times;
        for (const qint64 us : answersUs)
            times.add(us);
        Thresholds limits;
        limits.p99Us = p99LimitUs;
        limits.failures = failuresLimit;
        QStringList said;
        for (const ThresholdCheck &check : checkThresholds(limits, times, failedSteps))
            said << u"%1 %2 %3 %4"_s.arg(check.name, check.limit, check.measured,
                                         check.held ? u"held"_s : u"breached"_s);
        QCOMPARE(said, checks);
    }

    // The samples as a new user runs them against talvrecv: every one passes, and the
    // receiver got every frame and document valid.
    void samples_data() {
        QTest::addColumn<QString>("plan");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("documents");
        QTest::addColumn<int>("steps"); // the CSV's rows
        QTest::newRow("acceptance") << sample("acceptance.yaml") << 15 << 2 << 18;
        QTest::newRow("callers from a CSV file") << sample("callers.yaml") << 4 << 0 << 4;
    }

    void samples() {
        QFETCH(QString, plan);
        QFETCH(int, frames);
        QFETCH(int, documents);
        QFETCH(int, steps);
        Receiver talvrecv(receiverOptions(u"heartbeat 300"_s));
        QVERIFY(talvrecv.start());
        const QString junit = m_dir.filePath(u"samples.xml"_s);
        const QString csv = m_dir.filePath(u"samples.csv"_s);
        const PlanOutput run =
            runPlanCommand(QStringList{plan, u"--junit"_s, junit, u"--csv"_s, csv, u"--quiet"_s} +
                           targetsOf(talvrecv));
        QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
        QVERIFY2(run.out.contains(u"\": PASS\n"_s), qPrintable(run.out));
        QCOMPARE(talvrecv.stats().frames, frames);
        QCOMPARE(talvrecv.stats().framesInvalid(), 0);
        QCOMPARE(talvrecv.stats().documents, documents);
        QCOMPARE(talvrecv.stats().documentsInvalid(), 0);
        const QString report = readAll(junit);
        QVERIFY2(report.contains(u"failures=\"0\""_s) && report.contains(u"errors=\"0\""_s),
                 qPrintable(report));
        const QStringList rows = readAll(csv).split(u"\r\n"_s, Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 1 + steps);
        QCOMPARE(rows.filter(u",PASS,"_s).size(), steps);
    }

    // The negative sample: every malformed frame is refused, and talvrecv saw them all invalid.
    void negativeSample() {
        Receiver talvrecv(receiverOptions(QString()));
        QVERIFY(talvrecv.start());
        const PlanOutput run =
            runPlanCommand(QStringList{sample("negative.yaml")} + targetsOf(talvrecv));
        QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
        QCOMPARE(talvrecv.stats().repliesSent, 0);
    }

    // Plans that must fail, each with its step line, its JUnit verdict and exit status 1.
    void failures_data() {
        QTest::addColumn<QString>("receiver");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("junit");
        QTest::newRow("no answer")
            << u"no-reply"_s
            << u"- send: {type4: standard}\n        expect: {answer: ACK, within: 300 ms}"_s
            << texts({"^case 1 step 1: type4 standard, 314 bytes: unanswered: FAIL: expected "
                      "answer /ACK/ within 300 ms: no answer within 300 ms$",
                      "^case 1 \"only\": FAIL, 1 step, 1 failed"})
            << u"<failure type=\"expectation\" message=\"step 1: expected answer /ACK/ within "
               "300 ms: no answer within 300 ms\""_s;
        QTest::newRow("refused is an error")
            << u"refuse"_s << u"- send: {type5: canned}\n        expect: {answer: ACK}"_s
            << texts({"^case 1 step 1: type5 canned, \\d+ bytes: refused: ERROR: expected answer "
                      "/ACK/ within 2 s: the connection was refused"})
            << u"<error type=\"socket\" message=\"step 1: expected answer /ACK/ within 2 s: the "
               "connection was refused"_s;
        QTest::newRow("stop_case leaves the rest of the case")
            << u"reply NAK"_s
            << u"- send: {type4: min}\n        expect: {answer: ACK, within: 200 ms}\n"
               "        on_failure: stop_case\n      - send: {type4: max}"_s
            << texts({"^case 1 step 1: type4 min, 121 bytes: malformed: FAIL",
                      "^case 1 \"only\": FAIL, 1 step, 1 failed"})
            << u"tests=\"1\" failures=\"1\""_s;
        QTest::newRow("threshold breached")
            << u"delay 150"_s
            << u"- send: {type4: min}\n        expect: {answer: ACK}\nthresholds: {p99: 100 ms}"_s
            << texts({"^case 1 step 1: type4 min, 121 bytes: answered in 1\\d\\d\\.\\d ms "
                      "\"ACK\": PASS$",
                      "^threshold p99 <= 100.0 ms: breached \\(1\\d\\d\\.\\d ms\\)$"})
            << u"<failure type=\"threshold\" message=\"p99 &lt;= 100.0 ms breached"_s;
    }

    void failures() {
        QFETCH(QString, receiver);
        QFETCH(QString, steps);
        QFETCH(QStringList, lines);
        QFETCH(QString, junit);
        Receiver talvrecv(receiverOptions(receiver));
        QVERIFY(talvrecv.start());
        const QString planFile = m_dir.filePath(u"failing.yaml"_s);
        QString text =
            u"plan: failing\ncases:\n  - name: only\n    steps:\n      "_s + steps + u"\n"_s;
        // A thresholds line in the steps belongs at the top level.
        const qsizetype thresholds = text.indexOf(u"\nthresholds:"_s);
        if (thresholds >= 0)
            text = text.mid(thresholds + 1) + text.left(thresholds + 1);
        QFile file(planFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.close();
        const QString report = m_dir.filePath(u"failing.xml"_s);
        const PlanOutput run =
            runPlanCommand(QStringList{planFile, u"--junit"_s, report} + targetsOf(talvrecv));
        QCOMPARE(run.status, 1);
        QVERIFY2(unmatched(run.out, lines).isEmpty(), qPrintable(run.out));
        QVERIFY2(readAll(report).contains(junit), qPrintable(readAll(report)));
    }

    // What reaches the receiver is what the plan says, byte for byte: the frame built
    // around an inline body, a value captured from one answer used in the next frame,
    // a repeat's every iteration; a dry run prints those bytes and connects nowhere.
    void bytesOnTheWire() {
        Receiver talvrecv(receiverOptions(u"reply ACK-042"_s));
        QStringList received;
        connect(&talvrecv, &Receiver::recordReady, this,
                [&received](const QStringList &fields) { received << fields.value(4); });
        QVERIFY(talvrecv.start());
        const QString planFile = m_dir.filePath(u"bytes.yaml"_s);
        QFile file(planFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("plan: bytes\n"
                   "cases:\n"
                   "  - name: capture and repeat\n"
                   "    steps:\n"
                   "      - send: {type4: min, moli: point}\n"
                   "        expect: {answer: '^ACK-\\d+$'}\n"
                   "        capture: {term: 'ACK-(\\d+)'}\n"
                   "      - repeat: {count: 3, rate: 50/s}\n"
                   "        steps:\n"
                   "          - send: {type4: min, term_id: '{{term}}'}\n"
                   "            expect: {answer: ACK}\n");
        file.close();
        const PlanOutput dry =
            runPlanCommand(QStringList{planFile, u"--dry-run"_s} + targetsOf(talvrecv));
        QVERIFY2(dry.status == 0, qPrintable(dry.out + dry.err));
        QCOMPARE(unmatched(dry.out, texts({"^case 1 step 1: type4 min, 226 bytes, expect answer "
                                           "/\\^ACK-\\\\d\\+\\$/ within 2 s: \"99902194\\|",
                                           "^case 1 step 2.1 \\(iteration 3\\): type4 min, 126 "
                                           "bytes, .*: \"\\{\\{term\\}\\}01143\\|",
                                           "^plan \"bytes\": DRY RUN, nothing sent$"})),
                 QStringList());
        QCOMPARE(talvrecv.stats().connections, 0);
        const PlanOutput run = runPlanCommand(QStringList{planFile} + targetsOf(talvrecv));
        QVERIFY2(run.status == 0, qPrintable(run.out));
        QCOMPARE(
            received,
            texts({"term 999 len 0219 type 4 fields 52+46", "term 042 len 0114 type 3 fields 52",
                   "term 042 len 0114 type 3 fields 52", "term 042 len 0114 type 3 fields 52"}));
    }

    // An error in the plan is one line and exit 2, before anything is sent.
    void planErrors() {
        Receiver talvrecv(receiverOptions(QString()));
        QVERIFY(talvrecv.start());
        const QString planFile = m_dir.filePath(u"broken.yaml"_s);
        QFile file(planFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("plan: broken\ncases:\n  - name: one\n    steps:\n"
                   "      - send: {type4: standard}\n      - send: {type4: maxi}\n");
        file.close();
        const PlanOutput run = runPlanCommand(QStringList{planFile} + targetsOf(talvrecv));
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.startsWith(planFile + u":6:"_s), qPrintable(run.err));
        QCOMPARE(run.err.count(u'\n'), 1);
        QCOMPARE(talvrecv.stats().connections, 0);
        const PlanOutput usage = runPlanCommand({u"--set"_s, u"oops"_s, planFile});
        QCOMPARE(usage.status, 2);
        QCOMPARE(usage.err, u"talvgen-cli plan: --set wants NAME=VALUE, not \"oops\"\n"
                            "Try 'talvgen-cli plan --help' for more information.\n"_s);
    }

    // Ctrl-C in a pause: the summary comes at once, the case is not a pass, exit 130.
    void stoppedInAPause() {
        Receiver talvrecv(receiverOptions(QString()));
        QVERIFY(talvrecv.start());
        const QString planFile = m_dir.filePath(u"pause.yaml"_s);
        QFile file(planFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("plan: pause\ncases:\n  - name: waits\n    steps:\n"
                   "      - send: {type4: min}\n        expect: {answer: ACK}\n"
                   "      - pause: 60 s\n  - name: never\n    steps:\n      - pause: 1 s\n");
        file.close();
        QTimer::singleShot(300, [] { std::raise(SIGINT); });
        const PlanOutput run = runPlanCommand(QStringList{planFile} + targetsOf(talvrecv));
        QCOMPARE(run.status, 128 + SIGINT);
        QCOMPARE(unmatched(run.out, texts({"^case 1 \"waits\": FAIL, 1 step$",
                                           "^case 2 \"never\": NOT RUN \\(not run: stopped by "
                                           "SIGINT\\)$",
                                           "^plan \"pause\": FAIL \\(stopped by SIGINT\\)$"})),
                 QStringList());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestPlanRun)
#include "tst_planrun.moc"
