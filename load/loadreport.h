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

// "1.234 ms"
QString millisecondsText(qint64 us);

// elapsed, target and achieved rate, in flight, answered, failed and the
// p99 of the last second, for each link.
QString statusLine(double elapsedSeconds, double targetPerSecond, const Tallies &tallies);

QStringList csvHeader();
QStringList csvRow(double elapsedSeconds, double targetPerSecond, const LinkTally &tally);

// What breaks the limits on this link (p99 over --p99-limit, more failures
// than --max-failures); empty when it passes.
QString limitBreach(const LinkTally &tally, const LoadOptions &options);

QString summaryText(double elapsedSeconds, const LoadOptions &options, const Tallies &tallies,
                    bool interrupted);

// testsuites / testsuite / testcase, one test case per link.
QByteArray junitReport(double elapsedSeconds, const LoadOptions &options, const Tallies &tallies);

// 0 when every link passes (and something was due), 1 otherwise.
int loadExitStatus(const LoadOptions &options, const Tallies &tallies);
