// SPDX-License-Identifier: GPL-3.0-or-later
#include "probereport.h"

#include "csvwriter.h"
#include "junitreport.h"

#include <QCryptographicHash>

namespace {

QString linkName(ProbeLink link) {
    return link == ProbeLink::Type4 ? QStringLiteral("type4") : QStringLiteral("type5");
}

QString caseName(const ProbeResult &result) {
    return QStringLiteral("case %1 %2 (%3)")
        .arg(result.probe.number)
        .arg(result.probe.family, result.probe.title);
}

} // namespace

QList<FamilyTally> tallyByFamily(const QStringList &families, const QList<ProbeResult> &results) {
    QList<FamilyTally> tallies;
    for (const QString &family : families) {
        if (std::any_of(tallies.cbegin(), tallies.cend(),
                        [&family](const FamilyTally &t) { return t.family == family; }))
            continue;
        FamilyTally tally;
        tally.family = family;
        tallies << tally;
    }
    for (const ProbeResult &result : results) {
        auto tally = std::find_if(tallies.begin(), tallies.end(), [&result](const FamilyTally &t) {
            return t.family == result.probe.family;
        });
        if (tally == tallies.end()) {
            tallies.append(FamilyTally{result.probe.family, 0, 0, {}, false, {}});
            tally = tallies.end() - 1;
        }
        ++tally->cases;
        if (result.alive)
            continue;
        ++tally->failures;
        if (result.recoveryMs)
            tally->longestRecoveryMs =
                std::max(tally->longestRecoveryMs.value_or(0), *result.recoveryMs);
        else
            tally->receiverLost = true;
        tally->failedCases << QStringLiteral("%1: %2; replay %3")
                                  .arg(caseName(result), result.detail,
                                       result.replayFile.isEmpty() ? QStringLiteral("not written")
                                                                   : result.replayFile);
    }
    return tallies;
}

QString probeCaseLine(const ProbeResult &result) {
    QString line = QStringLiteral("%1, %2 bytes on %3: ")
                       .arg(caseName(result))
                       .arg(result.probe.totalBytes())
                       .arg(linkName(result.probe.link));
    if (!result.detail.isEmpty() && result.alive)
        return line + result.detail;
    if (result.alive)
        return line + QStringLiteral("alive");
    line += QStringLiteral("NOT ALIVE: %1; ").arg(result.detail);
    line += result.recoveryMs ? QStringLiteral("back after %1 ms").arg(*result.recoveryMs)
                              : QStringLiteral("not back");
    return line + QStringLiteral("; replay %1").arg(result.replayFile);
}

QString probeSummary(const ProbeSettings &settings, const ProbeRunner &runner) {
    QStringList lines;
    qint64 cases = 0;
    qint64 failures = 0;
    for (const FamilyTally &tally : tallyByFamily(settings.families, runner.results())) {
        cases += tally.cases;
        failures += tally.failures;
        QString recovery = QStringLiteral("-");
        if (tally.receiverLost)
            recovery = QStringLiteral("never");
        else if (tally.longestRecoveryMs)
            recovery = QStringLiteral("%1 ms").arg(*tally.longestRecoveryMs);
        lines << QStringLiteral("%1 cases %2, failures %3, longest recovery %4")
                     .arg(tally.family.leftJustified(18))
                     .arg(tally.cases)
                     .arg(tally.failures)
                     .arg(recovery);
    }
    QString verdict;
    if (runner.deadAtStart())
        verdict = QStringLiteral("FAIL: the receiver was not alive before the first case");
    else if (failures > 0)
        verdict = QStringLiteral("FAIL: %1 of %2 cases left the receiver not alive")
                      .arg(failures)
                      .arg(cases);
    else if (!runner.stoppedBecause().isEmpty())
        verdict = QStringLiteral("STOPPED by %1 after %2 cases, none failed")
                      .arg(runner.stoppedBecause())
                      .arg(cases);
    else if (cases == 0)
        verdict = QStringLiteral("FAIL: no case was run");
    else
        verdict = QStringLiteral("PASS: %1 cases, the receiver alive after each").arg(cases);
    if (runner.receiverLost())
        verdict +=
            QStringLiteral("; the receiver did not come back within %1 s, the run ended there")
                .arg(settings.recoverS);
    lines.prepend(QStringLiteral("probe: seed %1, %2 s")
                      .arg(settings.seed)
                      .arg(QString::number(runner.elapsedSeconds(), 'f', 1)));
    lines << QStringLiteral("Result: ") + verdict;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

int probeExitStatus(const ProbeRunner &runner, int stoppedBySignal) {
    const bool failed =
        runner.deadAtStart() || std::any_of(runner.results().cbegin(), runner.results().cend(),
                                            [](const ProbeResult &r) { return !r.alive; });
    if (failed)
        return 1;
    if (stoppedBySignal)
        return 128 + stoppedBySignal;
    return runner.results().isEmpty() ? 1 : 0;
}

QStringList probeCsvHeader() {
    return {QStringLiteral("time"),        QStringLiteral("family"),      QStringLiteral("number"),
            QStringLiteral("seed"),        QStringLiteral("title"),       QStringLiteral("link"),
            QStringLiteral("bytes"),       QStringLiteral("connections"), QStringLiteral("writes"),
            QStringLiteral("design_ms"),   QStringLiteral("sha1"),        QStringLiteral("alive"),
            QStringLiteral("recovery_ms"), QStringLiteral("replay"),      QStringLiteral("detail")};
}

QStringList probeCsvRow(const ProbeResult &result) {
    return {isoTimeWithOffset(result.at),
            result.probe.family,
            QString::number(result.probe.number),
            QString::number(result.probe.seed),
            result.probe.title,
            linkName(result.probe.link),
            QString::number(result.probe.totalBytes()),
            QString::number(result.probe.connections),
            QString::number(result.probe.writes.size()),
            QString::number(result.probe.durationMs()),
            QString::fromLatin1(
                QCryptographicHash::hash(result.probe.bytes(), QCryptographicHash::Sha1).toHex()),
            result.alive ? QStringLiteral("yes") : QStringLiteral("no"),
            result.recoveryMs ? QString::number(*result.recoveryMs) : QString(),
            result.replayFile,
            result.detail};
}

QByteArray probeJunitReport(const ProbeSettings &settings, const ProbeRunner &runner) {
    JunitSuite suite;
    suite.name = QStringLiteral("probe");
    suite.time = QString::number(runner.elapsedSeconds(), 'f', 3);
    suite.properties << std::pair{QStringLiteral("seed"), QString::number(settings.seed)};
    if (!runner.stoppedBecause().isEmpty())
        suite.properties << std::pair{QStringLiteral("stopped_by"), runner.stoppedBecause()};
    for (const FamilyTally &tally : tallyByFamily(settings.families, runner.results())) {
        JunitCase junitCase;
        junitCase.classname = QStringLiteral("probe");
        junitCase.name = tally.family;
        if (tally.failures > 0) {
            junitCase.verdict = JunitCase::Verdict::Failure;
            junitCase.type = QStringLiteral("not alive");
            junitCase.message = QStringLiteral("%1 of %2 cases left the receiver not alive")
                                    .arg(tally.failures)
                                    .arg(tally.cases);
            junitCase.detail = tally.failedCases.join(QLatin1Char('\n'));
        } else if (tally.cases == 0) {
            junitCase.verdict = JunitCase::Verdict::Skipped;
            junitCase.message =
                runner.deadAtStart()
                    ? QStringLiteral("the receiver was not alive before the first case")
                    : QStringLiteral("no case of this family was run");
        }
        suite.cases << junitCase;
    }
    return junitDocument(suite);
}
