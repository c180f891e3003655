// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>

class ResponseStats;

// What happened to the packets of one link during a run, judged by the
// precise measurement: from the packet's last byte handed to the system to
// the first byte of its response.
struct RunnerLinkTally {
    int stored = 0;             // packets the window left in the link's pending slot
    int handedOver = 0;         // packets whose last byte went to the system
    int answered = 0;           // handed-over packets whose response was measured
    int delayed = 0;            // answered later than the delay limit
    int processed = 0;          // responses the window counted for this link
    int closedBeforeAnswer = 0; // handed over, then closed by link 1 with no answer

    // Packets dropped or replaced before they went out.
    int notHandedOver() const { return stored > handedOver ? stored - handedOver : 0; }
    int unanswered() const { return std::max(0, handedOver - answered - closedBeforeAnswer); }
    void measured(qint64 usec, qint64 delayLimitUs);
};

struct RunTally {
    enum ExitStatus { kPassed = 0, kFailed = 1, kUsageOrFile = 2, kSignalBase = 128 };
    static constexpr qint64 kDefaultDelayLimitUs = 2'000'000;

    RunnerLinkTally type4; // link 1's packets to socket row 0
    RunnerLinkTally type5;
    // --row1: link 1's packets to socket row 1, which the summary then names apart.
    bool row1Used = false;
    RunnerLinkTally row1;
    int row1Dropped = 0; // records the window did not send to row 1: link 1 was still busy
    // A socket failure of either link, as the reports word it, and how often it came.
    struct SocketErrorCount {
        QString reason; // "Connection refused (socket error 10061)", "Unable to set socket"
        int count = 0;
    };

    int socketErrors = 0;                       // every failure in socketErrorReasons
    QList<SocketErrorCount> socketErrorReasons; // in the order each reason first came
    int dataFileFailures = 0;
    qint64 delayLimitUs = kDefaultDelayLimitUs;
    int stoppedBySignal = 0; // SIGINT or SIGTERM ended the run early; 0: it ran its course

    void measured(RunnerLinkTally &link, qint64 usec) const { link.measured(usec, delayLimitUs); }

    void socketError(const QString &reason);
    int stored() const { return type4.stored + row1.stored + type5.stored; }
    int delayed() const { return type4.delayed + row1.delayed + type5.delayed; }
    int unanswered() const { return type4.unanswered() + row1.unanswered() + type5.unanswered(); }
    int notHandedOver() const {
        return type4.notHandedOver() + row1.notHandedOver() + type5.notHandedOver();
    }
    int closedBeforeAnswer() const { return type4.closedBeforeAnswer + row1.closedBeforeAnswer; }
    bool anyFailed() const {
        return delayed() > 0 || unanswered() > 0 || notHandedOver() > 0 ||
               closedBeforeAnswer() > 0 || row1Dropped > 0;
    }
    // 128 + the signal's number (130, 143) when a signal stopped a run in which nothing failed.
    int exitStatus() const;
    QString verdict() const;
};

// A socket error as the reports give it, the reason first and the window's number after:
// "Connection refused (socket error 10061)".
QString socketErrorText(qint16 number, const QString &description);

// A time in microseconds as milliseconds with three decimals: "0.150 ms".
QString msToTheMicrosecond(qint64 usec);

// "Type 4: 3 responses, median 0.090 ms, p95 0.120 ms, max 0.120 ms"; a link with no
// responses has no figures ("Type 5: 0 responses").
QString responseOverview(const QString &label, const ResponseStats &stats);

// "Type 4: 3 responses, min 0.210 ms, mean 0.305 ms, median 0.298 ms, p95 0.402 ms,
// max 0.402 ms"; noun names what was timed.
QString detailedStats(const QString &label, const ResponseStats &stats,
                      const QString &noun = QStringLiteral("response"));

// The lines printed at the end of every run. The statistics are optional:
// a link (or row 1) the run never used has none.
QStringList summaryLines(const RunTally &tally, int processedCount, const ResponseStats *type4Stats,
                         const ResponseStats *type5Stats, const ResponseStats *connectStats,
                         const ResponseStats *row1Stats = nullptr,
                         const ResponseStats *row1ConnectStats = nullptr);
