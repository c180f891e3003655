// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtally.h"

#include "responsestats.h"
#include "signalwatcher.h"

#include <csignal>
#include <functional>
#include <utility>

namespace {

QString ms(qint64 usec) {
    return msToTheMicrosecond(usec);
}

QString countOf(qint64 count, const QString &noun) {
    return QStringLiteral("%1 %2%3").arg(count).arg(noun,
                                                    count == 1 ? QString() : QStringLiteral("s"));
}

// The links of a run as the summary names them: row 1 only when the run used it.
QList<std::pair<QString, const RunnerLinkTally *>> namedLinks(const RunTally &tally) {
    QList<std::pair<QString, const RunnerLinkTally *>> links{
        {QStringLiteral("Type 4"), &tally.type4}};
    if (tally.row1Used)
        links.append({QStringLiteral("Type 4 row 1"), &tally.row1});
    links.append({QStringLiteral("Type 5"), &tally.type5});
    return links;
}

// "Type 4 2, Type 5 0": the figure of each link.
QString perLink(const RunTally &tally,
                const std::function<QString(const RunnerLinkTally &)> &figure) {
    QStringList parts;
    for (const auto &[label, link] : namedLinks(tally))
        parts << label + QLatin1Char(' ') + figure(*link);
    return parts.join(QLatin1String(", "));
}

} // namespace

QString socketErrorText(qint16 number, const QString &description) {
    return QStringLiteral("%1 (socket error %2)").arg(description).arg(number);
}

QString msToTheMicrosecond(qint64 usec) {
    return QString::number(static_cast<double>(usec) / 1000.0, 'f', 3) + QStringLiteral(" ms");
}

QString responseOverview(const QString &label, const ResponseStats &stats) {
    QString text =
        label + QStringLiteral(": ") + countOf(stats.count(), QStringLiteral("response"));
    if (stats.count() == 0)
        return text;
    return text + QStringLiteral(", median ") + ms(stats.percentileUs(50)) +
           QStringLiteral(", p95 ") + ms(stats.percentileUs(95)) + QStringLiteral(", max ") +
           ms(stats.maxUs());
}

void RunnerLinkTally::measured(qint64 usec, qint64 delayLimitUs) {
    ++answered;
    if (usec > delayLimitUs)
        ++delayed;
}

void RunTally::socketError(const QString &reason) {
    ++socketErrors;
    for (SocketErrorCount &known : socketErrorReasons) {
        if (known.reason == reason) {
            ++known.count;
            return;
        }
    }
    socketErrorReasons.append({reason, 1});
}

int RunTally::exitStatus() const {
    if (dataFileFailures > 0)
        return kUsageOrFile;
    if (anyFailed())
        return kFailed;
    if (stoppedBySignal > 0)
        return kSignalBase + stoppedBySignal;
    return stored() == 0 ? kFailed : kPassed;
}

QString RunTally::verdict() const {
    if (dataFileFailures > 0)
        return QStringLiteral("FAIL: a data file could not be opened or read");
    if (stoppedBySignal > 0 && !anyFailed())
        return QStringLiteral("STOPPED by %1: nothing had failed").arg(signalName(stoppedBySignal));
    if (stored() == 0)
        return QStringLiteral("FAIL: no packet was sent");
    QStringList problems;
    if (notHandedOver() > 0)
        problems << QStringLiteral("%1 not handed over").arg(notHandedOver());
    if (closedBeforeAnswer() > 0)
        problems
            << QStringLiteral("%1 closed by link 1 before an answer").arg(closedBeforeAnswer());
    if (unanswered() > 0)
        problems << QStringLiteral("%1 unanswered").arg(unanswered());
    if (delayed() > 0)
        problems << QStringLiteral("%1 delayed").arg(delayed());
    if (row1Dropped > 0)
        problems << QStringLiteral("%1 dropped for row 1").arg(row1Dropped);
    if (problems.isEmpty())
        return QStringLiteral("PASS: every packet answered within %1 ms").arg(delayLimitUs / 1000);
    return QStringLiteral("FAIL: ") + problems.join(QLatin1String(", "));
}

QString detailedStats(const QString &label, const ResponseStats &stats, const QString &noun) {
    QString text = label + QStringLiteral(": ") + countOf(stats.count(), noun);
    if (stats.count() == 0)
        return text;
    return text + QStringLiteral(", min ") + ms(stats.minUs()) + QStringLiteral(", mean ") +
           ms(static_cast<qint64>(stats.meanUs() + 0.5)) + QStringLiteral(", median ") +
           ms(stats.percentileUs(50)) + QStringLiteral(", p95 ") + ms(stats.percentileUs(95)) +
           QStringLiteral(", max ") + ms(stats.maxUs());
}

QStringList summaryLines(const RunTally &tally, int processedCount, const ResponseStats *type4Stats,
                         const ResponseStats *type5Stats, const ResponseStats *connectStats,
                         const ResponseStats *row1Stats, const ResponseStats *row1ConnectStats) {
    QStringList lines;
    lines << QStringLiteral("==== talvgen-cli summary ====");
    lines << QStringLiteral("Packets handed over: ") + perLink(tally, [](const RunnerLinkTally &l) {
                 return QStringLiteral("%1 of %2").arg(l.handedOver).arg(l.stored);
             });
    lines << QStringLiteral("Responses processed: %1 (window total %2)")
                 .arg(perLink(
                     tally, [](const RunnerLinkTally &l) { return QString::number(l.processed); }))
                 .arg(processedCount);
    lines << QStringLiteral("Responses measured: ") + perLink(tally, [](const RunnerLinkTally &l) {
                 return QString::number(l.answered);
             });
    if (tally.row1Used)
        lines << QStringLiteral("Dropped for row 1: %1 (the window sends to row 1 only when link 1 "
                                "is free again at the tick after the boundary)")
                     .arg(tally.row1Dropped);
    lines << QStringLiteral("Delayed (over %1 ms): %2")
                 .arg(tally.delayLimitUs / 1000)
                 .arg(tally.delayed());
    lines << QStringLiteral("Closed by link 1 before an answer: %1 (link 1 closes at its first "
                            "100 ms poll after sending; --type4-hold keeps it open)")
                 .arg(tally.closedBeforeAnswer());
    lines << QStringLiteral("Unanswered: %1").arg(tally.unanswered());
    QString socketErrors = QStringLiteral("Socket errors: %1").arg(tally.socketErrors);
    QStringList reasons;
    for (const RunTally::SocketErrorCount &known : tally.socketErrorReasons)
        reasons << QStringLiteral("%1 %2").arg(known.count).arg(known.reason);
    if (!reasons.isEmpty())
        socketErrors += QStringLiteral(": ") + reasons.join(QLatin1String(", "));
    lines << socketErrors;
    if (tally.type4.processed + tally.row1.processed + tally.type5.processed > 0)
        lines << QStringLiteral("Note: \"Response Time\" in the log is the window's 10 ms count, "
                                "link 1's 100 ms poll included; the response times below are "
                                "measured from send to answer");
    QStringList overview;
    ResponseStats together;
    const std::pair<const char *, const ResponseStats *> responses[] = {
        {"Type 4", type4Stats}, {"Type 4 row 1", row1Stats}, {"Type 5", type5Stats}};
    for (const auto &[label, stats] : responses) {
        if (!stats)
            continue;
        overview << responseOverview(QLatin1String(label), *stats);
        together.merge(*stats);
    }
    if (overview.size() > 1)
        overview << responseOverview(QStringLiteral("All"), together);
    if (!overview.isEmpty())
        lines << QStringLiteral("Response times: ") + overview.join(QLatin1String("; "));
    for (const auto &[label, stats] : responses)
        if (stats)
            lines << detailedStats(QLatin1String(label) + QStringLiteral(" precise"), *stats);
    const std::pair<const char *, const ResponseStats *> connects[] = {
        {"Type 4 connect", connectStats}, {"Type 4 row 1 connect", row1ConnectStats}};
    for (const auto &[label, stats] : connects)
        if (stats)
            lines << detailedStats(QLatin1String(label), *stats, QStringLiteral("connect"));
    if (tally.stoppedBySignal > 0)
        lines << QStringLiteral("Stopped early by %1").arg(signalName(tally.stoppedBySignal));
    lines << QStringLiteral("Result: ") + tally.verdict();
    return lines;
}
