// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadreport.h"

#include "junitreport.h"
#include "signalwatcher.h"

#include <algorithm>
#include <array>
#include <csignal>

namespace {

QString rateText(double perSecond) {
    return QString::number(perSecond, 'f', perSecond < 10 ? 1 : 0) + QStringLiteral("/s");
}

// "1.234 ms"
QString msText(qint64 us) {
    return QString::number(double(us) / 1000.0, 'f', 3) + QStringLiteral(" ms");
}

// A figure of the histogram, "-" when it holds no latency at all.
QString latencyText(const LatencyHistogram &h, double percent) {
    return h.count() ? msText(h.valueAtPercentile(percent)) : QStringLiteral("-");
}

QString percentilesText(const LatencyHistogram &h) {
    return QStringLiteral("p50 %1, p90 %2, p99 %3, p99.9 %4, max %5")
        .arg(latencyText(h, 50), latencyText(h, 90), latencyText(h, 99), latencyText(h, 99.9),
             h.count() ? msText(h.max()) : QStringLiteral("-"));
}

// The latencies for the JUnit report, which shows no figure that was not measured.
QString junitLatency(const LatencyHistogram &h) {
    return h.count() ? QStringLiteral("latency ") + percentilesText(h)
                     : QStringLiteral("no latency: nothing was answered");
}

// A cell of the CSV: empty when the second had no answer to time.
QString csvLatency(const LatencyHistogram &h, qint64 value) {
    return h.count() ? QString::number(value) : QString();
}

QString faultsText(const LinkTally &tally) {
    QStringList parts;
    for (const Outcome kind : kLoadFaults)
        parts << QStringLiteral("%1 %2").arg(outcomeText(kind)).arg(tally.faultsOf(kind));
    parts << QStringLiteral("shortfall %1").arg(tally.shortfall);
    return parts.join(QStringLiteral(", "));
}

// The run's length as the summary prints it: tenths of a second, or
// thousandths for a run shorter than a twentieth.
QString secondsText(double seconds) {
    const QString tenths = QString::number(seconds, 'f', 1);
    return tenths.toDouble() > 0 ? tenths : QString::number(seconds, 'f', 3);
}

// Answers a second over the run's length as printed, so the two agree:
// whole when that is exact, else to a tenth.
QString answeredRateText(qint64 answered, const QString &seconds) {
    const double length = seconds.toDouble();
    if (length <= 0)
        return QStringLiteral("-");
    const double rate = double(answered) / length;
    const QString tenths = QString::number(rate, 'f', 1);
    return (tenths.endsWith(QLatin1String(".0")) ? tenths.chopped(2) : tenths) +
           QStringLiteral("/s");
}

// The figures of a link on the status line, the ones that matter least
// first to go when the terminal is narrow.
enum StatusDetail { kInFlight = 1, kAnswered = 2, kTerse = 4 };

QString statusForm(int second, double target, const Tallies &tallies, int leaveOut) {
    const bool terse = leaveOut & kTerse;
    QString line = terse ? QStringLiteral("%1 s %2").arg(second).arg(rateText(target))
                         : QStringLiteral("%1 s target %2").arg(second).arg(rateText(target));
    for (const LinkTally *t : tallies) {
        line += QStringLiteral(" | ") + t->name +
                (terse ? QStringLiteral(" ") : QStringLiteral(" sent ")) +
                rateText(double(t->sentLastSecond));
        if (!(leaveOut & kInFlight))
            line += QStringLiteral(" in flight %1").arg(t->inFlight);
        if (!(leaveOut & kAnswered))
            line += QStringLiteral(" answered %1").arg(t->answered);
        const QString p99 = latencyText(t->lastSecond, 99);
        line += QStringLiteral(" failed %1 p99 %2")
                    .arg(t->failed())
                    .arg(terse ? QString(p99).remove(QLatin1Char(' ')) : p99);
    }
    return line;
}

} // namespace

QString statusLine(int second, double targetPerSecond, const Tallies &tallies, int columns) {
    if (columns <= 0)
        return statusForm(second, targetPerSecond, tallies, 0);
    // The last column stays free: a line that fills it wraps on some terminals.
    const qsizetype room = std::max(1, columns - 1);
    constexpr std::array<int, 4> kNarrower = {0, kInFlight, kInFlight | kAnswered,
                                              kInFlight | kAnswered | kTerse};
    QString line;
    for (const int leaveOut : kNarrower) {
        line = statusForm(second, targetPerSecond, tallies, leaveOut);
        if (line.size() <= room)
            return line;
    }
    return line.left(room);
}

QStringList csvHeader() {
    QStringList header{QStringLiteral("elapsed_s"),    QStringLiteral("link"),
                       QStringLiteral("target_per_s"), QStringLiteral("sent"),
                       QStringLiteral("answered"),     QStringLiteral("failed"),
                       QStringLiteral("in_flight"),    QStringLiteral("p50_us"),
                       QStringLiteral("p99_us"),       QStringLiteral("max_us")};
    for (const Outcome kind : kLoadFaults)
        header << QStringLiteral("total_") + outcomeText(kind);
    header << QStringLiteral("total_shortfall");
    return header;
}

QStringList csvRow(double elapsedSeconds, double targetPerSecond, const LinkTally &t) {
    const LatencyHistogram &h = t.lastSecond;
    QStringList row{QString::number(elapsedSeconds, 'f', 3),
                    t.name,
                    QString::number(targetPerSecond, 'f', 1),
                    QString::number(t.sentLastSecond),
                    QString::number(t.answeredLastSecond),
                    QString::number(t.failedLastSecond),
                    QString::number(t.inFlight),
                    csvLatency(h, h.valueAtPercentile(50)),
                    csvLatency(h, h.valueAtPercentile(99)),
                    csvLatency(h, h.max())};
    for (const Outcome kind : kLoadFaults)
        row << QString::number(t.faultsOf(kind));
    row << QString::number(t.shortfall);
    return row;
}

QString limitBreach(const LinkTally &tally, const LoadOptions &options, bool stopped) {
    QStringList broken;
    // Arrivals that ended, none with an answer: whatever --max-failures
    // allows, the receiver was never shown to take anything. (Exchanges a
    // stop cut short ended neither way.)
    if (tally.due > 0 && tally.answered == 0 && (!stopped || tally.failed() > 0))
        broken << QStringLiteral("%1 arrival%2 due and none answered")
                      .arg(tally.due)
                      .arg(tally.due == 1 ? QString() : QStringLiteral("s"));
    if (tally.failed() > options.maxFailures)
        broken << QStringLiteral("%1 failures, more than the %2 allowed (%3)")
                      .arg(tally.failed())
                      .arg(options.maxFailures)
                      .arg(faultsText(tally));
    if (tally.latency.count() > 0) {
        const qint64 p99 = tally.latency.valueAtPercentile(99);
        if (options.p99LimitMs && double(p99) > *options.p99LimitMs * 1000.0)
            broken << QStringLiteral("p99 %1 over the %2 ms limit")
                          .arg(msText(p99))
                          .arg(*options.p99LimitMs);
    }
    if (tally.due == 0 && !stopped)
        broken << QStringLiteral("nothing was due");
    return broken.join(QStringLiteral("; "));
}

QString stopSignalText(int number) {
    return number == SIGINT ? QStringLiteral("Ctrl-C (SIGINT)") : signalName(number);
}

QString summaryText(const LoadEnd &end, const LoadOptions &options, const Tallies &tallies) {
    const bool stopped = end.stoppedBySignal != 0;
    const QString seconds = secondsText(end.elapsedSeconds);
    QStringList lines{QStringLiteral("==== talvgen-cli load summary ====")};
    lines << QStringLiteral("Ran %1 s%2")
                 .arg(seconds,
                      stopped ? QStringLiteral(", stopped by %1: exchanges in flight not counted")
                                    .arg(stopSignalText(end.stoppedBySignal))
                              : QString());
    QStringList failures;
    for (const LinkTally *t : tallies) {
        lines << QStringLiteral("%1: due %2, sent %3, answered %4 (%5), failed %6 (%7)")
                     .arg(t->name)
                     .arg(t->due)
                     .arg(t->sent)
                     .arg(t->answered)
                     .arg(answeredRateText(t->answered, seconds))
                     .arg(t->failed())
                     .arg(faultsText(*t));
        lines << QStringLiteral("%1 latency from due time: %2")
                     .arg(t->name, percentilesText(t->latency));
        if (t->name == QLatin1String("type4")) {
            lines << QStringLiteral("type4 connect: %1").arg(percentilesText(t->connect));
            if (!end.dataFileRefusals.isEmpty())
                lines << QStringLiteral("type4 data file: %1").arg(end.dataFileRefusals);
        } else {
            lines << QStringLiteral("type5: %1 carrier%2, heartbeats answered %3")
                         .arg(options.carriers)
                         .arg(options.carriers == 1 ? QString() : QStringLiteral("s"))
                         .arg(t->heartbeatsAnswered);
        }
        const QString breach = limitBreach(*t, options, stopped);
        if (!breach.isEmpty())
            failures << t->name + (stopped ? QStringLiteral(" failed: ") : QStringLiteral(": ")) +
                            breach;
    }
    QString result;
    if (stopped)
        result = QStringLiteral("STOPPED by %1: %2")
                     .arg(signalName(end.stoppedBySignal),
                          failures.isEmpty() ? QStringLiteral("nothing had failed")
                                             : failures.join(QStringLiteral("; ")));
    else
        result = failures.isEmpty()
                     ? QStringLiteral("PASS")
                     : QStringLiteral("FAIL: ") + failures.join(QStringLiteral("; "));
    lines << QStringLiteral("Result: ") + result;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray junitReport(const LoadEnd &end, const LoadOptions &options, const Tallies &tallies) {
    const bool stopped = end.stoppedBySignal != 0;
    const QString stoppedText =
        stopped ? QStringLiteral("stopped by %1 after %2 s, before the end of its arrivals")
                      .arg(stopSignalText(end.stoppedBySignal), secondsText(end.elapsedSeconds))
                : QString();
    JunitSuite suite;
    suite.name = QStringLiteral("talvgen-cli load");
    suite.time = QString::number(end.elapsedSeconds, 'f', 3);
    if (stopped) {
        suite.properties.append({QStringLiteral("stopped_by"), signalName(end.stoppedBySignal)});
        suite.systemOut =
            QStringLiteral("The run was %1: exchanges in flight not counted.").arg(stoppedText);
    }
    for (const LinkTally *t : tallies) {
        JunitCase link;
        link.classname = QStringLiteral("load");
        link.name = t->name;
        link.time = suite.time;
        const QString breach = limitBreach(*t, options, stopped);
        if (!breach.isEmpty()) {
            link.verdict = JunitCase::Verdict::Failure;
            link.message = breach;
            link.detail = junitLatency(t->latency);
        } else if (stopped) {
            link.verdict = JunitCase::Verdict::Skipped;
            link.message =
                QStringLiteral("the run was ") + stoppedText + QStringLiteral(": not judged");
        }
        link.systemOut = QStringLiteral("due %1, answered %2, %3; %4")
                             .arg(t->due)
                             .arg(t->answered)
                             .arg(faultsText(*t), junitLatency(t->latency));
        if (t->name == QLatin1String("type4") && !end.dataFileRefusals.isEmpty())
            link.systemOut += QStringLiteral("; data file: ") + end.dataFileRefusals;
        suite.cases << link;
    }
    return junitDocument(suite);
}

int loadExitStatus(const LoadEnd &end, const LoadOptions &options, const Tallies &tallies) {
    const bool stopped = end.stoppedBySignal != 0;
    for (const LinkTally *t : tallies) {
        if (!limitBreach(*t, options, stopped).isEmpty())
            return 1;
    }
    return stopped ? 128 + end.stoppedBySignal : 0;
}
