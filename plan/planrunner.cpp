// SPDX-License-Identifier: GPL-3.0-or-later
#include "planrunner.h"

#include "amllayout.h"
#include "arrivalschedule.h"
#include "loadrecords.h"
#include "planconnection.h"
#include "plantext.h"
#include "type4frame.h"
#include "xmlrestamp.h"

#include <QTimer>

namespace {

constexpr int kFailuresKept = 20;

QString actionOf(const Step &step) {
    switch (step.kind) {
    case Step::Kind::Pause:
        return QStringLiteral("pause %1").arg(durationText(step.pauseUs));
    case Step::Kind::Expect:
        return QStringLiteral("expect type5");
    case Step::Kind::Repeat:
        return QStringLiteral("repeat");
    case Step::Kind::Send:
        break;
    }
    const SendSpec &send = step.send;
    switch (send.kind) {
    case SendSpec::Kind::CannedType4:
        for (const auto &[word, record] : kCannedRecordWords)
            if (record == send.canned)
                return QStringLiteral("type4 %1").arg(QLatin1String(word));
        return {};
    case SendSpec::Kind::InlineType4:
        return QStringLiteral("type4 inline");
    case SendSpec::Kind::FileType4:
        return QStringLiteral("type4_file %1").arg(send.path);
    case SendSpec::Kind::CannedType5:
        return QStringLiteral("type5 canned");
    case SendSpec::Kind::FileType5:
        return QStringLiteral("type5 file %1").arg(send.path);
    case SendSpec::Kind::InlineType5:
        return QStringLiteral("type5 inline");
    case SendSpec::Kind::Raw:
        return send.link == PlanLink::Type4 ? QStringLiteral("raw type4")
                                            : QStringLiteral("raw type5");
    }
    return {};
}

PlanLink linkOf(const SendSpec &send) {
    switch (send.kind) {
    case SendSpec::Kind::CannedType4:
    case SendSpec::Kind::InlineType4:
    case SendSpec::Kind::FileType4:
        return PlanLink::Type4;
    case SendSpec::Kind::CannedType5:
    case SendSpec::Kind::FileType5:
    case SendSpec::Kind::InlineType5:
        return PlanLink::Type5;
    case SendSpec::Kind::Raw:
        break;
    }
    return send.link;
}

} // namespace

// A run of steps: a case's own, or one iteration of a repeat.
struct PlanRunner::Flow {
    const QList<Step> *steps = nullptr;
    int index = 0;
    QString prefix; // "3." inside the repeat that is step 3
    int iteration = 0;
    qint64 dueUs = 0; // when the next step falls due
    std::function<void()> done;
};

// A step being judged.
struct PlanRunner::Waiter {
    Waiter(std::shared_ptr<Flow> f, const Step &s, Expectation expectation)
        : flow(std::move(f))
        , step(&s)
        , judge(std::move(expectation)) {}

    std::shared_ptr<Flow> flow;
    const Step *step;
    StepJudge judge;
    StepResult result;
    qint64 startUs = 0;
    std::optional<qint64> answeredAtUs;
    QPointer<PlanConnection> connection;
    bool ownsConnection = false;
    bool settled = false;
    std::unique_ptr<QObject> context = std::make_unique<QObject>(); // its signal connections
};

// A repeat step while its iterations run.
struct PlanRunner::RepeatRun {
    std::shared_ptr<Flow> parent;
    const Step *step = nullptr;
    qint64 startUs = 0;
    int launched = 0;
    int live = 0;
    bool over = false;
    std::optional<ArrivalSchedule> schedule;
    qint64 nextDueUs = 0;
};

PlanRunner::PlanRunner(const Plan &plan, const Targets &targets, bool dryRun, QObject *parent)
    : QObject(parent)
    , m_plan(plan)
    , m_targets(targets)
    , m_dryRun(dryRun)
    , m_clock([] { return QDateTime::currentDateTime(); })
    , m_random(plan.seed) {
    for (const auto &[name, value] : m_plan.vars)
        m_values.insert(name, value);
}

PlanRunner::~PlanRunner() {
    for (const std::shared_ptr<Waiter> &waiter : std::as_const(m_waiters))
        if (waiter->ownsConnection && waiter->connection)
            waiter->connection->close();
    m_waiters.clear();
    m_type5Answers.clear();
}

double PlanRunner::elapsedSeconds() const {
    return m_clockUs.isValid() ? double(nowUs()) / 1e6 : 0.0;
}

qint64 PlanRunner::heartbeatsAnswered() const {
    return m_type5HeartbeatsBefore + (m_type5 ? m_type5->heartbeatsAnswered() : 0);
}

OnFailure PlanRunner::onFailureOf(const Step &step) const {
    return step.onFailure.value_or(m_plan.defaultOnFailure);
}

void PlanRunner::start() {
    m_running = true;
    m_clockUs.start();
    for (const PlanCase &planCase : std::as_const(m_plan.cases)) {
        CaseResult result;
        result.number = int(m_cases.size()) + 1;
        result.name = planCase.name;
        m_cases << result;
    }
    QMetaObject::invokeMethod(this, &PlanRunner::startCase, Qt::QueuedConnection);
}

void PlanRunner::stop(const QString &why) {
    if (!m_running || wasStopped())
        return;
    m_stoppedBecause = why;
    m_failedAtStop = m_stepsFailed;
    m_caseStopped = true;
    m_planStopped = true;
    const QList<std::shared_ptr<Waiter>> waiting = m_waiters;
    for (const std::shared_ptr<Waiter> &waiter : waiting) {
        waiter->judge.stopped(QStringLiteral("stopped by %1").arg(why));
        settle(waiter);
    }
    // Pauses and repeats waiting on a timer go on at once, and find the run stopped.
    const QList<QTimer *> sleepers =
        findChildren<QTimer *>(QStringLiteral("sleeper"), Qt::FindDirectChildrenOnly);
    for (QTimer *timer : sleepers)
        if (timer->isActive())
            timer->start(0);
}

void PlanRunner::sleep(qint64 us, std::function<void()> then) {
    auto *sleeper = new QTimer(this);
    sleeper->setObjectName(QStringLiteral("sleeper"));
    sleeper->setSingleShot(true);
    sleeper->setTimerType(Qt::PreciseTimer);
    connect(sleeper, &QTimer::timeout, this, [sleeper, then = std::move(then)] {
        sleeper->deleteLater();
        then();
    });
    sleeper->start(int((us + 999) / 1000));
}

// ---------------------------------------------------------------- cases and flows

void PlanRunner::startCase() {
    ++m_caseIndex;
    if (m_caseIndex >= m_plan.cases.size() || m_planStopped) {
        for (int i = m_caseIndex; i < m_cases.size(); ++i) {
            m_cases[i].notRunReason =
                wasStopped()
                    ? QStringLiteral("not run: stopped by %1").arg(m_stoppedBecause)
                    : QStringLiteral("not run: the plan stopped at case %1").arg(m_caseIndex);
            emit caseDone(m_cases[i]);
        }
        m_running = false;
        if (m_type5)
            m_type5->close();
        emit finished();
        return;
    }
    m_caseStopped = false;
    m_caseStartUs = nowUs();
    auto flow = std::make_shared<Flow>();
    flow->steps = &m_plan.cases.at(m_caseIndex).steps;
    flow->dueUs = nowUs();
    flow->done = [this] {
        endCase();
    };
    runNext(flow);
}

void PlanRunner::endCase() {
    CaseResult &result = m_cases[m_caseIndex];
    result.elapsedUs = nowUs() - m_caseStartUs;
    if (result.erroredSteps > 0)
        result.state = CaseResult::State::Errored;
    else if (result.failedSteps > 0)
        result.state = CaseResult::State::Failed;
    else if (!wasStopped())
        result.state = CaseResult::State::Passed;
    else if (result.steps > 0)
        result.state = CaseResult::State::Failed; // a stopped case is never a pass
    else
        result.notRunReason = QStringLiteral("not run: stopped by %1").arg(m_stoppedBecause);
    emit caseDone(result);
    QMetaObject::invokeMethod(this, &PlanRunner::startCase, Qt::QueuedConnection);
}

void PlanRunner::runNext(const std::shared_ptr<Flow> &flow) {
    if (m_caseStopped || flow->index >= flow->steps->size()) {
        flow->done();
        return;
    }
    const Step &step = flow->steps->at(flow->index);
    switch (step.kind) {
    case Step::Kind::Send:
        runSend(flow, step);
        return;
    case Step::Kind::Expect:
        runExpect(flow, step);
        return;
    case Step::Kind::Repeat:
        runRepeat(flow, step);
        return;
    case Step::Kind::Pause:
        break;
    }
    StepResult result;
    result.step = flow->prefix + QString::number(flow->index + 1);
    result.iteration = flow->iteration;
    result.outcome = m_dryRun ? QStringLiteral("not waited (dry run)") : QStringLiteral("waited");
    const auto after = [this, flow, &step, result] {
        report(result, step);
        stepEnded(flow, false, step);
    };
    if (m_dryRun || m_caseStopped) {
        after();
        return;
    }
    sleep(step.pauseUs, after);
}

void PlanRunner::stepEnded(const std::shared_ptr<Flow> &flow, bool failed, const Step &step) {
    if (failed) {
        switch (onFailureOf(step)) {
        case OnFailure::StopPlan:
            m_planStopped = true;
            [[fallthrough]];
        case OnFailure::StopCase:
            m_caseStopped = true;
            break;
        case OnFailure::Continue:
            break;
        }
    }
    ++flow->index;
    flow->dueUs = nowUs();
    QMetaObject::invokeMethod(
        this, [this, flow] { runNext(flow); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- steps

void PlanRunner::runSend(const std::shared_ptr<Flow> &flow, const Step &step) {
    ++m_seq;
    takeDataRow();
    StepResult result;
    result.step = flow->prefix + QString::number(flow->index + 1);
    result.iteration = flow->iteration;
    const PlanLink link = linkOf(step.send);
    result.link = link;
    result.sends = true;
    QString problem;
    const std::optional<QByteArray> bytes = bytesOf(step.send, &problem);
    std::optional<Expectation> expectation;
    if (bytes)
        expectation = expectationOf(step, &problem);
    const bool haveTarget =
        link == PlanLink::Type4 ? m_targets.type4.has_value() : m_targets.type5.has_value();
    if (bytes && expectation && !haveTarget && !m_dryRun)
        problem =
            QStringLiteral("no %1 target: give targets: %1 or --set %1=HOST:PORT")
                .arg(link == PlanLink::Type4 ? QStringLiteral("type4") : QStringLiteral("type5"));
    if (!problem.isEmpty()) {
        result.verdict = StepJudge::Verdict::Error;
        result.outcome = QStringLiteral("not sent");
        result.detail = problem;
        if (expectation)
            result.expected = expectation->text();
        report(result, step);
        stepEnded(flow, true, step);
        return;
    }
    result.sent = *bytes;
    result.expected = expectation->text();
    if (m_dryRun) {
        result.outcome = QStringLiteral("not sent (dry run)");
        report(result, step);
        stepEnded(flow, false, step);
        return;
    }
    auto waiter = std::make_shared<Waiter>(flow, step, *expectation);
    waiter->result = result;
    waiter->startUs = flow->dueUs;
    if (link == PlanLink::Type4) {
        waiter->connection = new PlanConnection(*m_targets.type4, m_targets.type4Port, false, this);
        waiter->ownsConnection = true;
    } else {
        waiter->connection = type5Connection();
    }
    m_bytesSent += bytes->size();
    watch(waiter);
    waiter->connection->send(*bytes, step.send.split, step.send.gapUs);
}

void PlanRunner::runExpect(const std::shared_ptr<Flow> &flow, const Step &step) {
    StepResult result;
    result.step = flow->prefix + QString::number(flow->index + 1);
    result.iteration = flow->iteration;
    result.link = PlanLink::Type5;
    QString problem;
    const std::optional<Expectation> expectation = expectationOf(step, &problem);
    if (expectation && !m_targets.type5 && !m_dryRun)
        problem = QStringLiteral("no type5 target: give targets: type5 or --set type5=HOST:PORT");
    if (!problem.isEmpty() || m_dryRun) {
        result.verdict = problem.isEmpty() ? StepJudge::Verdict::Passed : StepJudge::Verdict::Error;
        result.outcome = problem.isEmpty() ? QStringLiteral("not watched (dry run)")
                                           : QStringLiteral("not watched");
        result.detail = problem;
        if (expectation)
            result.expected = expectation->text();
        report(result, step);
        stepEnded(flow, !problem.isEmpty(), step);
        return;
    }
    result.expected = expectation->text();
    auto waiter = std::make_shared<Waiter>(flow, step, *expectation);
    waiter->result = result;
    waiter->startUs = flow->dueUs;
    waiter->connection = type5Connection();
    watch(waiter);
}

void PlanRunner::runRepeat(const std::shared_ptr<Flow> &flow, const Step &step) {
    auto repeat = std::make_shared<RepeatRun>();
    repeat->parent = flow;
    repeat->step = &step;
    repeat->startUs = flow->dueUs;
    repeat->nextDueUs = flow->dueUs;
    if (step.repeat.perSecond > 0) {
        const double rate = step.repeat.perSecond;
        repeat->schedule.emplace(RatePlan{rate, rate, 0.0, false, m_plan.seed});
        repeat->nextDueUs = repeat->startUs + repeat->schedule->nextUs();
    }
    launchIteration(repeat);
}

// The next iteration, at its due time when the repeat has a rate, else now.
void PlanRunner::launchIteration(const std::shared_ptr<RepeatRun> &repeat) {
    const RepeatSpec &asked = repeat->step->repeat;
    const bool countDone = asked.count && repeat->launched >= *asked.count;
    const qint64 dueUs = repeat->schedule ? repeat->nextDueUs : nowUs();
    const bool timeDone = asked.durationUs && dueUs - repeat->startUs >= *asked.durationUs;
    if (m_caseStopped || countDone || timeDone || repeat->over) {
        repeat->over = true;
        if (repeat->live == 0) {
            repeat->live = -1; // ended once
            const std::shared_ptr<Flow> parent = repeat->parent;
            ++parent->index;
            parent->dueUs = nowUs();
            QMetaObject::invokeMethod(
                this, [this, parent] { runNext(parent); }, Qt::QueuedConnection);
        }
        return;
    }
    const qint64 waitUs = dueUs - nowUs();
    if (repeat->schedule && waitUs > 0 && !m_dryRun) {
        sleep(waitUs, [this, repeat] {
            if (m_caseStopped)
                repeat->over = true;
            launchIteration(repeat);
        });
        return;
    }
    auto child = std::make_shared<Flow>();
    child->steps = &asked.steps;
    child->prefix =
        repeat->parent->prefix + QString::number(repeat->parent->index + 1) + QLatin1Char('.');
    child->iteration = ++repeat->launched;
    child->dueUs = dueUs;
    child->done = [this, repeat] {
        iterationEnded(repeat);
    };
    ++repeat->live;
    if (repeat->schedule)
        repeat->nextDueUs = repeat->startUs + repeat->schedule->nextUs();
    runNext(child);
    if (repeat->schedule && !m_dryRun)
        QMetaObject::invokeMethod(
            this, [this, repeat] { launchIteration(repeat); }, Qt::QueuedConnection);
}

void PlanRunner::iterationEnded(const std::shared_ptr<RepeatRun> &repeat) {
    --repeat->live;
    if (!repeat->schedule || m_dryRun || repeat->over)
        QMetaObject::invokeMethod(
            this, [this, repeat] { launchIteration(repeat); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- judging

void PlanRunner::watch(const std::shared_ptr<Waiter> &waiter) {
    m_waiters << waiter;
    QObject *context = waiter->context.get();
    PlanConnection *connection = waiter->connection;
    const Expectation &expectation = waiter->judge.expectation();
    const std::weak_ptr<Waiter> weak = waiter;
    const auto then = [this, weak](StepJudge::Verdict verdict) {
        if (verdict == StepJudge::Verdict::Waiting)
            return;
        if (const std::shared_ptr<Waiter> w = weak.lock())
            settle(w);
    };
    connect(connection, &PlanConnection::allSent, context, [weak, then] {
        if (const std::shared_ptr<Waiter> w = weak.lock())
            then(w->judge.sent());
    });
    connect(connection, &PlanConnection::ended, context, [connection, weak, then] {
        if (const std::shared_ptr<Waiter> w = weak.lock())
            then(w->judge.ended(connection->ending().value_or(Outcome::Closed),
                                connection->endingDetail()));
    });
    if (expectation.heartbeat)
        connect(connection, &PlanConnection::heartbeatAnswered, context, [weak, then] {
            if (const std::shared_ptr<Waiter> w = weak.lock())
                then(w->judge.heartbeat());
        });
    const bool readsAnswers = expectation.answer || expectation.noAnswer;
    if (readsAnswers && waiter->ownsConnection) {
        connect(connection, &PlanConnection::arrived, context, [this, connection, weak, then] {
            const std::shared_ptr<Waiter> w = weak.lock();
            if (!w)
                return;
            qsizetype used = 0;
            const StepJudge::Verdict verdict = w->judge.arrived(connection->received(), &used);
            if (w->judge.answered() && !w->answeredAtUs)
                w->answeredAtUs = nowUs();
            then(verdict);
        });
    } else if (readsAnswers) {
        m_type5Answers << waiter;
    }
    auto *deadline = new QTimer(context);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);
    connect(deadline, &QTimer::timeout, context, [weak, then] {
        if (const std::shared_ptr<Waiter> w = weak.lock())
            then(w->judge.deadline());
    });
    const qint64 leftUs = waiter->startUs + expectation.withinUs - nowUs();
    deadline->start(int(std::max<qint64>(0, leftUs + 999) / 1000));
}

// Answers on link 2 belong to its documents in the order they were sent.
void PlanRunner::feedType5Answers() {
    if (!m_type5)
        return;
    if (m_type5Answers.isEmpty()) {
        m_type5->take(m_type5->received().size()); // nobody waits for it
        return;
    }
    while (!m_type5Answers.isEmpty() && m_type5 && !m_type5->received().isEmpty()) {
        const std::shared_ptr<Waiter> waiter = m_type5Answers.constFirst();
        qsizetype used = 0;
        const StepJudge::Verdict verdict = waiter->judge.arrived(m_type5->received(), &used);
        m_type5->take(used);
        if (waiter->judge.answered() && !waiter->answeredAtUs)
            waiter->answeredAtUs = nowUs();
        if (verdict == StepJudge::Verdict::Waiting && !waiter->judge.answered())
            break; // no match yet: more may come
        m_type5Answers.removeFirst();
        if (verdict != StepJudge::Verdict::Waiting)
            settle(waiter);
    }
}

void PlanRunner::settle(const std::shared_ptr<Waiter> &waiter) {
    if (waiter->settled)
        return;
    waiter->settled = true;
    m_waiters.removeOne(waiter);
    m_type5Answers.removeOne(waiter);
    waiter->context.reset(); // its timer and signal connections with it
    const StepJudge &judge = waiter->judge;
    StepResult result = waiter->result;
    result.verdict = judge.verdict();
    result.outcome = judge.outcome();
    result.detail = judge.detail();
    result.answer = judge.answer();
    if (waiter->answeredAtUs) {
        result.latencyUs = *waiter->answeredAtUs - waiter->startUs;
        m_responseTimes.add(*result.latencyUs);
    }
    if (result.verdict == StepJudge::Verdict::Passed && judge.answered()) {
        const QString answer = QString::fromLatin1(judge.answer());
        for (const Capture &capture : waiter->step->expect->captures) {
            const QRegularExpression pattern(fill(capture.pattern));
            const QRegularExpressionMatch match = pattern.match(answer);
            if (!match.hasMatch()) {
                result.verdict = StepJudge::Verdict::Failed;
                result.detail = QStringLiteral("capture %1: /%2/ does not match the answer")
                                    .arg(capture.name, pattern.pattern());
                break;
            }
            m_values.insert(capture.name, match.captured(1));
        }
    }
    if (waiter->ownsConnection && waiter->connection) {
        waiter->connection->close();
        waiter->connection->deleteLater();
    }
    report(result, *waiter->step);
    stepEnded(waiter->flow, result.failed(), *waiter->step);
}

void PlanRunner::report(StepResult result, const Step &step) {
    result.caseNumber = m_caseIndex + 1;
    result.action = actionOf(step);
    result.place = step.place;
    result.at = m_clock();
    if (step.kind != Step::Kind::Pause) {
        CaseResult &tally = m_cases[m_caseIndex];
        ++m_stepsRun;
        ++tally.steps;
        if (result.verdict == StepJudge::Verdict::Error)
            ++tally.erroredSteps;
        else if (result.verdict == StepJudge::Verdict::Failed)
            ++tally.failedSteps;
        if (result.failed()) {
            ++m_stepsFailed;
            if (tally.failures.size() < kFailuresKept)
                tally.failures << result;
        }
    }
    emit stepDone(result);
}

// ---------------------------------------------------------------- what is sent

PlanConnection *PlanRunner::type5Connection() {
    if (m_type5 && m_type5->state() != PlanConnection::State::Ended)
        return m_type5;
    if (m_type5) {
        m_type5HeartbeatsBefore += m_type5->heartbeatsAnswered();
        m_type5->deleteLater();
    }
    m_type5 = new PlanConnection(*m_targets.type5, m_targets.type5Port, true, this);
    connect(m_type5, &PlanConnection::arrived, this, &PlanRunner::feedType5Answers);
    return m_type5;
}

std::optional<Expectation> PlanRunner::expectationOf(const Step &step, QString *problem) {
    Expectation expectation;
    expectation.withinUs = m_plan.defaultWithinUs;
    if (!step.expect)
        return expectation;
    const ExpectSpec &expect = *step.expect;
    if (expect.answer) {
        QRegularExpression pattern(fill(*expect.answer));
        if (!pattern.isValid()) {
            *problem = QStringLiteral("the answer pattern /%1/ is not a regular expression: %2")
                           .arg(pattern.pattern(), pattern.errorString());
            return std::nullopt;
        }
        expectation.answer = pattern;
    }
    expectation.withinUs = expect.withinUs.value_or(m_plan.defaultWithinUs);
    expectation.noAnswer = expect.noAnswer;
    expectation.closed = expect.closed;
    expectation.heartbeat = expect.heartbeat;
    return expectation;
}

std::optional<QByteArray> PlanRunner::bytesOf(const SendSpec &send, QString *problem) {
    switch (send.kind) {
    case SendSpec::Kind::CannedType4: {
        const QByteArray record =
            cannedRecordWithMoli(send.canned, send.moliShape, cannedMoliRecords());
        return frameCannedRecord(fill(send.termId).toLatin1(), record, send.moliShape.has_value());
    }
    case SendSpec::Kind::InlineType4: {
        const QByteArray body = fill(send.text).toLatin1();
        return fill(send.termId).toLatin1() + type4LengthField(body.size()) + body;
    }
    case SendSpec::Kind::CannedType5:
        return cannedAmlDocument();
    case SendSpec::Kind::InlineType5:
        return fill(send.text).toLatin1();
    case SendSpec::Kind::Raw: {
        // A value filled in is bytes as written: its backslashes are not escapes.
        const QString text = expandTemplate(send.text, [this](const QString &name) {
            std::optional<QString> value = valueOf(name);
            if (value)
                value->replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
            return value;
        });
        return decodeRawText(text, problem);
    }
    case SendSpec::Kind::FileType4:
    case SendSpec::Kind::FileType5:
        break;
    }
    std::unique_ptr<LoadRecords> &records = m_files[send.path];
    if (!records) {
        LoadOptions options;
        (send.kind == SendSpec::Kind::FileType4 ? options.dataFile : options.xmlFile) = send.path;
        records = std::make_unique<LoadRecords>();
        if (!records->prepare(options, problem)) {
            records.reset();
            return std::nullopt;
        }
    }
    return send.kind == SendSpec::Kind::FileType4 ? records->nextType4Frame()
                                                  : records->type5Document();
}

QString PlanRunner::fill(const QString &text) {
    return expandTemplate(text, [this](const QString &name) { return valueOf(name); });
}

std::optional<QString> PlanRunner::valueOf(const QString &name) {
    const auto known = m_values.constFind(name);
    if (known != m_values.cend())
        return *known;
    if (m_plan.data && m_dataRow) {
        const qsizetype column = m_plan.data->columns.indexOf(name);
        if (column >= 0)
            return m_plan.data->rows.at(*m_dataRow).value(column);
    }
    if (name == QLatin1String("seq"))
        return QString::number(m_seq);
    if (name == QLatin1String("now"))
        return QString::fromLatin1(restampDateTimeText(m_clock()));
    if (const std::optional<std::pair<qint64, qint64>> range = randomRange(name)) {
        std::uniform_int_distribution<qint64> pick(range->first, range->second);
        return QString::number(pick(m_random));
    }
    return std::nullopt;
}

void PlanRunner::takeDataRow() {
    if (!m_plan.data || m_plan.data->rows.isEmpty())
        return;
    const qsizetype rows = m_plan.data->rows.size();
    if (m_plan.data->order == PlanData::Order::Random) {
        std::uniform_int_distribution<qsizetype> pick(0, rows - 1);
        m_dataRow = pick(m_random);
    } else {
        m_dataRow = m_nextDataRow++ % rows;
    }
}
