// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "linktally.h"
#include "loadoptions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// What a load run shows and writes: the status line of each second, the
// summary, the CSV rows and the JUnit report, and the verdict.

using Tallies = std::vector<LinkTally *>;

// How a run ended, for the summary, the JUnit report and the exit status.
struct LoadEnd {
    double elapsedSeconds = 0.0;
    int stoppedBySignal = 0;  // the signal that stopped the run early; 0: it ran its course
    QString dataFileRefusals; // LoadRecords::refusalText(): empty when none was refused
};

// The second that ended, the arrivals due in it and, for each link, the
// rate sent, in flight, answered, failed and the p99 of that second. Cut to
// fit in columns - 1 characters (the last column left free, so the line
// never wraps) by leaving out the figures that matter least first; columns
// 0: the whole line.
QString statusLine(int second, double targetPerSecond, const Tallies &tallies, int columns = 0);

QStringList csvHeader();
// A latency of the second with no answer in it is an empty cell.
QStringList csvRow(double elapsedSeconds, double targetPerSecond, const LinkTally &tally);

// What breaks the limits on this link (arrivals due and none answered, more
// failures than --max-failures, p99 over --p99-limit, nothing due); empty
// when it passes. A stopped run is judged on what had ended by then.
QString limitBreach(const LinkTally &tally, const LoadOptions &options, bool stopped = false);

// "Ctrl-C (SIGINT)", "SIGTERM", "signal 9".
QString stopSignalText(int number);

QString summaryText(const LoadEnd &end, const LoadOptions &options, const Tallies &tallies);

// testsuites / testsuite / testcase, one test case per link. A stopped run
// says so in a property of the suite and its output, and each link that had
// not failed by then is skipped, not passed.
QByteArray junitReport(const LoadEnd &end, const LoadOptions &options, const Tallies &tallies);

// 0 when every link passes, 1 when one fails, 128 + the signal's number
// (130, 143) when a signal stopped a run in which no link had failed.
int loadExitStatus(const LoadEnd &end, const LoadOptions &options, const Tallies &tallies);
