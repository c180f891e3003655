// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "proberunner.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What a family's cases came to.
struct FamilyTally {
    QString family;
    qint64 cases = 0;
    qint64 failures = 0;
    std::optional<qint64> longestRecoveryMs; // unset: no failure recovered
    bool receiverLost = false;               // a failure it never came back from
    QStringList failedCases; // "case 17 (length field too short): probe-failures/..."
};

// Per family in the order given, each family once.
QList<FamilyTally> tallyByFamily(const QStringList &families, const QList<ProbeResult> &results);

// "case 17 type4-length (length field too short): alive" or "...: NOT ALIVE: why; back after
// 412 ms; replay probe-failures/....json".
QString probeCaseLine(const ProbeResult &result);
QString probeSummary(const ProbeSettings &settings, const ProbeRunner &runner);
// 0 no case failed, 1 one did (or the receiver was not alive at the start), 130/143 stopped by
// SIGINT/SIGTERM with nothing failed.
int probeExitStatus(const ProbeRunner &runner, int stoppedBySignal);

// A row per case: what it was, its writes and the time they take by design, the SHA-1 of
// its bytes (the same seed and number give them again, byte for byte), and how it ended.
QStringList probeCsvHeader();
QStringList probeCsvRow(const ProbeResult &result);
// A test case per family: a failure lists the failed cases and their replay files.
QByteArray probeJunitReport(const ProbeSettings &settings, const ProbeRunner &runner);
