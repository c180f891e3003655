// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "plan.h"
#include "planrunner.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One threshold of the plan against what the run measured.
struct ThresholdCheck {
    QString name;     // "p99", "failures"
    QString limit;    // "300 ms", "0"
    QString measured; // "12.3 ms"; "no answers" when there is nothing to measure
    bool held = false;
};

// Each threshold the plan sets, in the order p50 p90 p95 p99 max failures. A
// time with no answers to measure is not held: a verdict needs evidence.
QList<ThresholdCheck> checkThresholds(const Thresholds &thresholds, const ResponseStats &times,
                                      qint64 failedSteps);

// How the run ended, beyond what the runner counted.
struct PlanEnd {
    bool dryRun = false;
    int stoppedBySignal = 0; // SIGINT or SIGTERM, else 0
};

// "case 1 step 2: type4 standard, 311 bytes: answered in 3.2 ms: PASS" and, for a
// failure, why; with dryRun the bytes themselves instead of an outcome.
QString stepLine(const StepResult &result, bool dryRun);
// "case 1 "Standard record": PASS, 3 steps", "... FAIL, 3 steps, 1 failed", "... NOT RUN: why".
QString caseLine(const CaseResult &result);
// The plan's verdict and figures, after the case lines.
QString planSummary(const Plan &plan, const PlanRunner &runner, const PlanEnd &end);
bool planPassed(const Plan &plan, const PlanRunner &runner, const PlanEnd &end);
// 0 passed (or a dry run), 1 failed, 130/143 stopped by SIGINT/SIGTERM before anything failed.
int planExitStatus(const Plan &plan, const PlanRunner &runner, const PlanEnd &end);

QStringList planCsvHeader();
QStringList planCsvRow(const StepResult &result, const QString &caseName);

// A testcase per case: a failure names the step and the expectation it missed,
// a socket error is an error, a case not run is skipped.
QByteArray planJunitReport(const Plan &plan, const PlanRunner &runner, const PlanEnd &end);
