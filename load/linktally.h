// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exchangeoutcome.h"
#include "latencyhistogram.h"

#include <QString>

#include <array>

// What happened on one link: arrivals, answers, faults by kind and the
// latency of every answer, from the moment it was due.
struct LinkTally {
    QString name;         // "type4" or "type5"
    qint64 due = 0;       // arrivals that fell due
    qint64 sent = 0;      // went out (or began to: a Type 4 connect)
    qint64 shortfall = 0; // not sent, --max-inflight was reached
    qint64 answered = 0;
    qint64 inFlight = 0;
    std::array<qint64, kOutcomeKinds> faults{}; // by Outcome: how arrivals failed
    LatencyHistogram latency;                   // the whole run
    LatencyHistogram connect;                   // Type 4 connect times
    LatencyHistogram lastSecond;                // answers since the last status line
    qint64 heartbeatsAnswered = 0;              // Type 5
    qint64 sentLastSecond = 0;
    qint64 answeredLastSecond = 0;
    qint64 failedLastSecond = 0;

    qint64 faultCount() const;
    // Faults and shortfall: every arrival not answered.
    qint64 failed() const { return faultCount() + shortfall; }
    qint64 faultsOf(Outcome kind) const { return faults[size_t(kind)]; }
    void countFault(Outcome fault) {
        ++faults[size_t(fault)];
        ++failedLastSecond;
    }
    void countSent() {
        ++sent;
        ++sentLastSecond;
    }
    // Starts the next second's figures.
    void startSecond() {
        lastSecond.reset();
        sentLastSecond = answeredLastSecond = failedLastSecond = 0;
    }
    void countAnswer(qint64 us) {
        ++answered;
        ++answeredLastSecond;
        latency.record(us);
        lastSecond.record(us);
    }
};
