// SPDX-License-Identifier: GPL-3.0-or-later
#include "planreport.h"

#include "csvwriter.h"
#include "junitreport.h"

#include <QFileInfo>

#include <csignal>

namespace {

constexpr qsizetype kAnswerShown = 60;

QString ms(qint64 us) {
    return QStringLiteral("%1 ms").arg(QString::number(double(us) / 1000.0, 'f', 1));
}

QString stepName(const StepResult &result) {
    QString name = QStringLiteral("case %1 step %2").arg(result.caseNumber).arg(result.step);
    if (result.iteration > 0)
        name += QStringLiteral(" (iteration %1)").arg(result.iteration);
    return name;
}

QString verdictWord(StepJudge::Verdict verdict) {
    switch (verdict) {
    case StepJudge::Verdict::Passed:
        return QStringLiteral("PASS");
    case StepJudge::Verdict::Failed:
        return QStringLiteral("FAIL");
    case StepJudge::Verdict::Error:
        return QStringLiteral("ERROR");
    case StepJudge::Verdict::Waiting:
        break;
    }
    return QStringLiteral("WAITING");
}

QString caseWord(CaseResult::State state) {
    switch (state) {
    case CaseResult::State::Passed:
        return QStringLiteral("PASS");
    case CaseResult::State::Failed:
        return QStringLiteral("FAIL");
    case CaseResult::State::Errored:
        return QStringLiteral("ERROR");
    case CaseResult::State::NotRun:
        break;
    }
    return QStringLiteral("NOT RUN");
}

QString plural(qint64 n, const char *one) {
    return QStringLiteral("%1 %2%3")
        .arg(n)
        .arg(QLatin1String(one))
        .arg(n == 1 ? QString() : QStringLiteral("s"));
}

// The step and what it missed, for a JUnit failure or a case line.
QString missed(const StepResult &result) {
    QString text = QStringLiteral("step %1").arg(result.step);
    if (result.iteration > 0)
        text += QStringLiteral(" (iteration %1)").arg(result.iteration);
    text += QStringLiteral(": expected %1: %2").arg(result.expected, result.detail);
    return text;
}

} // namespace

QList<ThresholdCheck> checkThresholds(const Thresholds &thresholds, const ResponseStats &times,
                                      qint64 failedSteps) {
    QList<ThresholdCheck> checks;
    const std::pair<const char *, std::optional<qint64>> limits[] = {{"p50", thresholds.p50Us},
                                                                     {"p90", thresholds.p90Us},
                                                                     {"p95", thresholds.p95Us},
                                                                     {"p99", thresholds.p99Us},
                                                                     {"max", thresholds.maxUs}};
    for (const auto &[name, limitUs] : limits) {
        if (!limitUs)
            continue;
        ThresholdCheck check;
        check.name = QLatin1String(name);
        check.limit = ms(*limitUs);
        if (times.count() > 0) {
            const qint64 measured = check.name == QLatin1String("max")
                                        ? times.maxUs()
                                        : times.percentileUs(check.name.mid(1).toDouble());
            check.measured = ms(measured);
            check.held = measured <= *limitUs;
        } else {
            check.measured = QStringLiteral("no answers");
        }
        checks << check;
    }
    if (thresholds.failures) {
        ThresholdCheck check;
        check.name = QStringLiteral("failures");
        check.limit = QString::number(*thresholds.failures);
        check.measured = QString::number(failedSteps);
        check.held = failedSteps <= *thresholds.failures;
        checks << check;
    }
    return checks;
}

QString stepLine(const StepResult &result, bool dryRun) {
    QString line = stepName(result) + QStringLiteral(": ") + result.action;
    if (result.sends)
        line += QStringLiteral(", %1").arg(plural(result.sent.size(), "byte"));
    if (dryRun) {
        if (!result.expected.isEmpty())
            line += QStringLiteral(", expect %1").arg(result.expected);
        if (!result.sent.isEmpty())
            line += QStringLiteral(": \"%1\"").arg(printableBytes(result.sent, result.sent.size()));
        if (result.failed())
            line += QStringLiteral(": %1: %2").arg(verdictWord(result.verdict), result.detail);
        return line;
    }
    line += QStringLiteral(": ") + result.outcome;
    if (result.latencyUs)
        line += QStringLiteral(" in %1").arg(ms(*result.latencyUs));
    if (!result.answer.isEmpty() && !result.failed())
        line += QStringLiteral(" \"%1\"").arg(printableBytes(result.answer, kAnswerShown));
    line += QStringLiteral(": ") + verdictWord(result.verdict);
    if (result.failed())
        line += QStringLiteral(": expected %1: %2").arg(result.expected, result.detail);
    return line;
}

QString caseLine(const CaseResult &result) {
    QString line = QStringLiteral("case %1 \"%2\": %3")
                       .arg(result.number)
                       .arg(result.name, caseWord(result.state));
    if (result.state == CaseResult::State::NotRun)
        return line + QStringLiteral(" (%1)").arg(result.notRunReason);
    line += QStringLiteral(", %1").arg(plural(result.steps, "step"));
    const qint64 bad = result.failedSteps + result.erroredSteps;
    if (bad > 0)
        line += QStringLiteral(", %1 failed (first: %2)")
                    .arg(bad)
                    .arg(missed(result.failures.value(0)));
    return line;
}

bool planPassed(const Plan &plan, const PlanRunner &runner, const PlanEnd &end) {
    if (end.dryRun || end.stoppedBySignal || runner.wasStopped())
        return false;
    if (runner.bytesSent() == 0 && runner.heartbeatsAnswered() == 0)
        return false; // nothing happened: no evidence
    for (const CaseResult &result : runner.cases())
        if (result.state != CaseResult::State::Passed)
            return false;
    for (const ThresholdCheck &check :
         checkThresholds(plan.thresholds, runner.responseTimes(), runner.stepsFailed()))
        if (!check.held)
            return false;
    return true;
}

QString planSummary(const Plan &plan, const PlanRunner &runner, const PlanEnd &end) {
    qint64 counts[4] = {0, 0, 0, 0}; // by CaseResult::State
    for (const CaseResult &result : runner.cases())
        ++counts[int(result.state)];
    QString verdict;
    if (end.dryRun)
        verdict = QStringLiteral("DRY RUN, nothing sent");
    else if (planPassed(plan, runner, end))
        verdict = QStringLiteral("PASS");
    else if (runner.wasStopped())
        verdict = QStringLiteral("FAIL (stopped by %1)").arg(runner.stoppedBecause());
    else if (runner.bytesSent() == 0 && runner.heartbeatsAnswered() == 0)
        verdict = QStringLiteral("FAIL (nothing was sent)");
    else
        verdict = QStringLiteral("FAIL");
    QStringList lines;
    lines << QStringLiteral("plan \"%1\": %2").arg(plan.name, verdict);
    lines << QStringLiteral("cases: %1, passed %2, failed %3, errors %4, not run %5")
                 .arg(runner.cases().size())
                 .arg(counts[int(CaseResult::State::Passed)])
                 .arg(counts[int(CaseResult::State::Failed)])
                 .arg(counts[int(CaseResult::State::Errored)])
                 .arg(counts[int(CaseResult::State::NotRun)]);
    lines << QStringLiteral("steps: %1, failed %2; %3 sent; heartbeats answered %4; %5 s")
                 .arg(runner.stepsRun())
                 .arg(runner.stepsFailed())
                 .arg(plural(runner.bytesSent(), "byte"))
                 .arg(runner.heartbeatsAnswered())
                 .arg(QString::number(runner.elapsedSeconds(), 'f', 1));
    if (!end.dryRun)
        lines << runner.responseTimes().summary(QStringLiteral("response times"));
    for (const ThresholdCheck &check :
         checkThresholds(plan.thresholds, runner.responseTimes(), runner.stepsFailed()))
        lines << QStringLiteral("threshold %1 <= %2: %3 (%4)")
                     .arg(check.name, check.limit,
                          end.dryRun   ? QStringLiteral("not measured")
                          : check.held ? QStringLiteral("held")
                                       : QStringLiteral("breached"),
                          check.measured);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

int planExitStatus(const Plan &plan, const PlanRunner &runner, const PlanEnd &end) {
    if (end.dryRun)
        return 0;
    if (planPassed(plan, runner, end))
        return 0;
    if (end.stoppedBySignal && runner.stepsFailedBeforeStop() == 0)
        return 128 + end.stoppedBySignal;
    return 1;
}

QStringList planCsvHeader() {
    return {QStringLiteral("time"),       QStringLiteral("case"),     QStringLiteral("step"),
            QStringLiteral("iteration"),  QStringLiteral("action"),   QStringLiteral("bytes_sent"),
            QStringLiteral("sent"),       QStringLiteral("expected"), QStringLiteral("outcome"),
            QStringLiteral("latency_ms"), QStringLiteral("answer"),   QStringLiteral("verdict"),
            QStringLiteral("detail")};
}

QStringList planCsvRow(const StepResult &result, const QString &caseName) {
    return {isoTimeWithOffset(result.at),
            caseName,
            result.step,
            result.iteration > 0 ? QString::number(result.iteration) : QString(),
            result.action,
            QString::number(result.sent.size()),
            printableBytes(result.sent, result.sent.size()),
            result.expected,
            result.outcome,
            result.latencyUs ? QString::number(double(*result.latencyUs) / 1000.0, 'f', 3)
                             : QString(),
            printableBytes(result.answer, result.answer.size()),
            verdictWord(result.verdict),
            result.detail};
}

QByteArray planJunitReport(const Plan &plan, const PlanRunner &runner, const PlanEnd &end) {
    JunitSuite suite;
    suite.name = plan.name;
    suite.time = QString::number(runner.elapsedSeconds(), 'f', 3);
    suite.properties << std::pair{QStringLiteral("plan"), plan.file};
    if (end.dryRun)
        suite.properties << std::pair{QStringLiteral("dry_run"), QStringLiteral("true")};
    const QString classname = QFileInfo(plan.file).completeBaseName();
    for (const CaseResult &result : runner.cases()) {
        JunitCase junitCase;
        junitCase.classname = classname;
        junitCase.name = result.name;
        junitCase.time = QString::number(double(result.elapsedUs) / 1e6, 'f', 3);
        QStringList failures;
        for (const StepResult &step : result.failures)
            failures << missed(step);
        switch (result.state) {
        case CaseResult::State::Passed:
            break;
        case CaseResult::State::Failed:
        case CaseResult::State::Errored:
            junitCase.verdict = result.state == CaseResult::State::Failed
                                    ? JunitCase::Verdict::Failure
                                    : JunitCase::Verdict::Error;
            junitCase.type = result.state == CaseResult::State::Failed
                                 ? QStringLiteral("expectation")
                                 : QStringLiteral("socket");
            junitCase.message =
                failures.value(0, QStringLiteral("stopped by %1").arg(runner.stoppedBecause()));
            junitCase.detail = failures.join(QLatin1Char('\n'));
            break;
        case CaseResult::State::NotRun:
            junitCase.verdict = JunitCase::Verdict::Skipped;
            junitCase.message = result.notRunReason;
            break;
        }
        suite.cases << junitCase;
    }
    const QList<ThresholdCheck> checks =
        checkThresholds(plan.thresholds, runner.responseTimes(), runner.stepsFailed());
    if (!checks.isEmpty() && !end.dryRun) {
        JunitCase thresholds;
        thresholds.classname = classname;
        thresholds.name = QStringLiteral("thresholds");
        QStringList breached;
        for (const ThresholdCheck &check : checks)
            if (!check.held)
                breached << QStringLiteral("%1 <= %2 breached (%3)")
                                .arg(check.name, check.limit, check.measured);
        if (!breached.isEmpty()) {
            thresholds.verdict = JunitCase::Verdict::Failure;
            thresholds.type = QStringLiteral("threshold");
            thresholds.message = breached.constFirst();
            thresholds.detail = breached.join(QLatin1Char('\n'));
        }
        suite.cases << thresholds;
    }
    return junitDocument(suite);
}
