#pragma once

#include <QString>
#include <QStringList>

class ResponseStats;

// What happened to the packets of one link during a run, judged by the
// precise measurement: from the packet's last byte handed to the system to
// the first byte of its response.
struct LinkTally {
    static constexpr qint64 kDelayLimitUs = 2'000'000;

    int stored = 0;     // packets the window left in the link's pending slot
    int handedOver = 0; // packets whose last byte went to the system
    int answered = 0;   // handed-over packets whose response was measured
    int delayed = 0;    // answered later than kDelayLimitUs
    int processed = 0;  // responses the window counted for this link

    // Packets dropped or replaced before they went out.
    int notHandedOver() const { return stored > handedOver ? stored - handedOver : 0; }
    int unanswered() const { return handedOver - answered; }
    void measured(qint64 usec);
};

struct RunTally {
    enum ExitStatus { kPassed = 0, kFailed = 1, kUsageOrFile = 2 };

    LinkTally type4;
    LinkTally type5;
    int socketErrors = 0; // "Event: Socket error ..." and "Unable to set socket" lines
    int dataFileFailures = 0;

    // Counts the log lines that matter for the verdict.
    void logged(const QString &line);
    int stored() const { return type4.stored + type5.stored; }
    int delayed() const { return type4.delayed + type5.delayed; }
    int unanswered() const { return type4.unanswered() + type5.unanswered(); }
    int notHandedOver() const { return type4.notHandedOver() + type5.notHandedOver(); }
    int exitStatus() const;
    QString verdict() const;
};

// "Type 4: 3 responses, min 0.210 ms, mean 0.305 ms, median 0.298 ms, p95 0.402 ms,
// max 0.402 ms"; noun names what was timed.
QString detailedStats(const QString &label, const ResponseStats &stats,
                      const QString &noun = QStringLiteral("response"));

// The lines printed at the end of every run. The statistics are optional:
// a link the run never used has none.
QStringList summaryLines(const RunTally &tally, int processedCount, const QString &windowStatistics,
                         const ResponseStats *type4Stats, const ResponseStats *type5Stats,
                         const ResponseStats *connectStats);
