// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "plan.h"
#include "responsestats.h"
#include "stepjudge.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>

class LoadRecords;
class PlanConnection;

// How one step went, as the log line, the CSV row and the JUnit case tell it.
struct StepResult {
    int caseNumber = 0; // 1-based
    QString step;       // "2", or "3.1" inside a repeat
    int iteration = 0;  // of the innermost repeat, 1-based; 0 outside one
    QString action;     // "type4 standard", "type5 canned", "raw type4", "pause", "expect"
    std::optional<PlanLink> link;
    bool sends = false; // a send step: its bytes are shown, none or not
    QByteArray sent;
    QString expected; // Expectation::text()
    StepJudge::Verdict verdict = StepJudge::Verdict::Passed;
    QString outcome;                 // "answered", "closed", "no answer", ...
    std::optional<qint64> latencyUs; // from the step's due time to its answer
    QByteArray answer;
    QString detail; // why it failed
    QDateTime at;   // when it was settled
    PlanPlace place;

    bool failed() const { return verdict != StepJudge::Verdict::Passed; }
};

struct CaseResult {
    int number = 0; // 1-based
    QString name;
    enum class State { Passed, Failed, Errored, NotRun } state = State::NotRun;
    qint64 steps = 0;
    qint64 failedSteps = 0;
    qint64 erroredSteps = 0;
    qint64 elapsedUs = 0;
    QList<StepResult> failures; // the first few, for the reports
    QString notRunReason;       // "the plan stopped at case 2"
};

// Runs a plan's cases in order against the receiver, each step on the event
// loop: link 1 a connection per frame, closed once the step is judged; link 2
// one lasting connection that answers heartbeats and is opened again after the
// receiver closes it. A repeat with a rate starts each iteration at its due
// time whether the last has ended or not, as the load mode does.
class PlanRunner : public QObject {
    Q_OBJECT
public:
    struct Targets {
        std::optional<QHostAddress> type4;
        quint16 type4Port = 0;
        std::optional<QHostAddress> type5;
        quint16 type5Port = 0;
    };

    // dryRun: every step is built and reported but nothing is sent or waited for.
    PlanRunner(const Plan &plan, const Targets &targets, bool dryRun, QObject *parent = nullptr);
    ~PlanRunner() override;

    void start();
    // Ctrl-C: what is in flight is judged failed ("stopped"), nothing more starts.
    void stop(const QString &why);
    bool isRunning() const { return m_running; }
    bool wasStopped() const { return !m_stoppedBecause.isEmpty(); }
    const QString &stoppedBecause() const { return m_stoppedBecause; }

    const QList<CaseResult> &cases() const { return m_cases; }
    const ResponseStats &responseTimes() const { return m_responseTimes; }
    qint64 stepsRun() const { return m_stepsRun; }
    qint64 stepsFailed() const { return m_stepsFailed; }
    // Steps failed before stop() was called: what a stop itself failed is not counted.
    qint64 stepsFailedBeforeStop() const { return wasStopped() ? m_failedAtStop : m_stepsFailed; }
    qint64 bytesSent() const { return m_bytesSent; }
    qint64 heartbeatsAnswered() const;
    double elapsedSeconds() const;
    // For tests: the clock {{now}} reads.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

signals:
    void stepDone(const StepResult &result);
    void caseDone(const CaseResult &result);
    void finished();

private:
    struct Flow;
    struct Waiter;
    struct RepeatRun;

    void startCase();
    void endCase();
    void runNext(const std::shared_ptr<Flow> &flow);
    void stepEnded(const std::shared_ptr<Flow> &flow, bool failed, const Step &step);
    void runSend(const std::shared_ptr<Flow> &flow, const Step &step);
    void runExpect(const std::shared_ptr<Flow> &flow, const Step &step);
    void runRepeat(const std::shared_ptr<Flow> &flow, const Step &step);
    void launchIteration(const std::shared_ptr<RepeatRun> &repeat);
    void iterationEnded(const std::shared_ptr<RepeatRun> &repeat);

    // The bytes a send step puts on the wire; unset with the reason.
    std::optional<QByteArray> bytesOf(const SendSpec &send, QString *problem);
    std::optional<Expectation> expectationOf(const Step &step, QString *problem);
    QString fill(const QString &text);
    std::optional<QString> valueOf(const QString &name);
    void takeDataRow();
    // Calls then after us, or at once when the run is stopped meanwhile.
    void sleep(qint64 us, std::function<void()> then);
    PlanConnection *type5Connection();

    void watch(const std::shared_ptr<Waiter> &waiter);
    void feedType5Answers();
    void settle(const std::shared_ptr<Waiter> &waiter);
    void report(StepResult result, const Step &step);

    qint64 nowUs() const { return m_clockUs.nsecsElapsed() / 1000; }
    OnFailure onFailureOf(const Step &step) const;

    Plan m_plan;
    Targets m_targets;
    bool m_dryRun = false;
    bool m_running = false;
    QString m_stoppedBecause;
    QElapsedTimer m_clockUs;
    std::function<QDateTime()> m_clock;

    int m_caseIndex = -1;
    bool m_caseStopped = false;
    bool m_planStopped = false;
    qint64 m_caseStartUs = 0;
    int m_flowsLive = 0;
    QList<CaseResult> m_cases;

    QHash<QString, QString> m_values; // vars, then captures over them
    qint64 m_seq = 0;
    qsizetype m_nextDataRow = 0;
    std::optional<qsizetype> m_dataRow; // the row the current step reads
    std::mt19937_64 m_random;
    std::map<QString, std::unique_ptr<LoadRecords>> m_files;

    QPointer<PlanConnection> m_type5;
    qint64 m_type5HeartbeatsBefore = 0;            // of link 2 connections that have ended
    QList<std::shared_ptr<Waiter>> m_waiters;      // every step still being judged
    QList<std::shared_ptr<Waiter>> m_type5Answers; // those waiting on link 2's answers, in order

    ResponseStats m_responseTimes;
    qint64 m_stepsRun = 0;
    qint64 m_stepsFailed = 0;
    qint64 m_failedAtStop = 0;
    qint64 m_bytesSent = 0;
};
