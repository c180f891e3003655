// SPDX-License-Identifier: GPL-3.0-or-later
#include "proberun.h"

#include "commandwords.h"
#include "csvwriter.h"
#include "hostlookup.h"
#include "junitreport.h"
#include "optionreader.h"
#include "probereplay.h"
#include "probereport.h"
#include "reportfiles.h"
#include "signalwatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <cstring>

namespace {

const char kProgram[] = "talvgen-cli probe";
const char kDescription[] =
    "Sends a receiver bad carrier data, case by case, and after each case checks that it\n"
    "is still alive: a valid canned frame on link 1 and the canned document on link 2\n"
    "must be answered within --alive-ms. A receiver that fails the check is waited for,\n"
    "up to --recover-s, and each failed case is written to a replay file in --out;\n"
    "--replay FILE sends that case again exactly. The same --seed gives the same cases,\n"
    "byte for byte. Traffic goes only to the addresses given, with at most\n"
    "--max-connections connections at once and cases of at most 8 MiB.\n"
    "Families: %1.\n"
    "Exit status: 0 no case failed, 1 a case did (or the receiver was not alive before\n"
    "the first), 2 bad usage, 130/143 stopped by SIGINT/SIGTERM before a case failed.";

int usageError(QIODevice &err, const QString &problem) {
    return writeUsageError(err, QString::fromLatin1(kProgram), problem);
}

void addOptions(OptionReader &reader) {
    reader.addOption("type4", "The receiver's Type 4 port.", "HOST:PORT");
    reader.addOption("type5", "The receiver's Type 5 port.", "HOST:PORT");
    reader.addOption("seed", "Where the cases start (1).", "N");
    reader.addOption("cases", "Cases to run (100 when neither this nor --duration is given).", "N");
    reader.addOption("duration", "Seconds to run cases for.", "S");
    reader.addOption("only", "Only this family; may be given more than once.", "FAMILY");
    reader.addOption("alive-ms", "How soon the liveness check must be answered (2000).", "MS");
    reader.addOption("recover-s", "How long to wait for a receiver to come back (30).", "S");
    reader.addOption("max-connections", "Connections at once in a case (50).", "N");
    reader.addOption("max-case-ms",
                     "How long a case may take by design: trickles, holds, heartbeats (3000). "
                     "Raise it above the receiver's heartbeat period for the tcp-heartbeat cases.",
                     "MS");
    reader.addOption("replay", "Sends the case of a replay file again, with its check.", "FILE");
    reader.addOption("out", "Where replay files are written (probe-failures).", "DIR");
    reader.addOption("junit", "Writes a JUnit XML report: a test case per family.", "FILE");
    reader.addOption("csv", "Writes a CSV row per case.", "FILE");
}

struct ProbeCommand {
    ProbeSettings settings;
    QString replayFile;
    QString junitFile;
    QString csvFile;
};

// Reads one endpoint option and looks its host up.
void readTarget(OptionReader &reader, const char *name, std::optional<QHostAddress> *address,
                quint16 *port, QString *host) {
    const QString text = reader.once(name);
    if (reader.failed() || !reader.isSet(name))
        return;
    const std::optional<Endpoint> endpoint = parseEndpoint(text);
    if (!endpoint)
        return reader.fail(
            QStringLiteral("--%1 wants HOST:PORT, not \"%2\"").arg(QLatin1String(name), text));
    QString problem;
    *address = lookUpHost(endpoint->host, &problem);
    if (!*address)
        return reader.fail(problem);
    *port = endpoint->port;
    *host = endpoint->host;
}

template<typename Number>
void readNumber(OptionReader &reader, const char *name, qint64 low, qint64 high, Number *into) {
    const QString text = reader.once(name);
    if (reader.failed() || !reader.isSet(name))
        return;
    const std::optional<qint64> n = wholeNumber(text, low, high);
    if (!n)
        return reader.fail(QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                               .arg(QLatin1String(name))
                               .arg(low)
                               .arg(high)
                               .arg(text));
    *into = Number(*n);
}

std::optional<ProbeCommand> readCommand(OptionReader &reader) {
    ProbeCommand command;
    ProbeSettings &s = command.settings;
    readTarget(reader, "type4", &s.type4, &s.type4Port, &s.type4Host);
    readTarget(reader, "type5", &s.type5, &s.type5Port, &s.type5Host);
    if (!reader.failed() && !s.type4 && !s.type5)
        reader.fail(QStringLiteral("give --type4 HOST:PORT, --type5 HOST:PORT or both"));
    qint64 seed = 1;
    readNumber(reader, "seed", 0, std::numeric_limits<qint64>::max(), &seed);
    s.seed = quint64(seed);
    if (reader.isSet("cases")) {
        qint64 cases = 0;
        readNumber(reader, "cases", 1, 100'000'000, &cases);
        s.cases = cases;
    }
    const QString duration = reader.once("duration");
    if (!reader.failed() && reader.isSet("duration")) {
        const std::optional<double> seconds = decimalNumber(duration, 0.001, 30.0 * 24 * 3600);
        if (!seconds)
            reader.fail(QStringLiteral("--duration wants seconds, not \"%1\"").arg(duration));
        else
            s.durationUs = qint64(*seconds * 1e6);
    }
    if (reader.isSet("cases") && reader.isSet("duration"))
        reader.fail(QStringLiteral("--cases and --duration cannot go together"));
    if (!s.cases && !s.durationUs)
        s.cases = 100;
    readNumber(reader, "alive-ms", 1, 600'000, &s.aliveMs);
    readNumber(reader, "recover-s", 0, 3600, &s.recoverS);
    readNumber(reader, "max-connections", 1, 1000, &s.limits.maxConnections);
    readNumber(reader, "max-case-ms", 100, 600'000, &s.limits.maxCaseMs);
    s.families = reader.values("only");
    for (const QString &family : std::as_const(s.families))
        if (!isProbeFamily(family))
            reader.fail(QStringLiteral("--only wants one of %1, not \"%2\"")
                            .arg(probeFamilies().join(QStringLiteral(", ")), family));
    if (s.families.isEmpty())
        s.families = probeFamilies();
    if (reader.isSet("out"))
        s.outDir = reader.once("out");
    command.replayFile = reader.once("replay");
    command.junitFile = reader.once("junit");
    command.csvFile = reader.once("csv");
    reader.noArguments();
    if (reader.failed())
        return std::nullopt;
    return command;
}

} // namespace

bool isProbeCommand(int argc, char *argv[]) {
    return argc > 1 && std::strcmp(argv[1], "probe") == 0;
}

int runProbe(const QStringList &arguments, QIODevice &out, QIODevice &err) {
    OptionReader reader(
        QString::fromLatin1(kProgram),
        QString::fromLatin1(kDescription).arg(probeFamilies().join(QStringLiteral(", "))));
    addOptions(reader);
    if (const std::optional<int> answered = reader.parseCommand(arguments, out, err))
        return *answered;
    std::optional<ProbeCommand> command = readCommand(reader);
    if (!command)
        return usageError(err, reader.problem());
    QString problem;
    std::optional<ProbeCase> replay;
    if (!command->replayFile.isEmpty()) {
        replay = readReplayFile(command->replayFile, &problem);
        if (!replay)
            return usageError(err, problem);
        command->settings.families = {replay->family};
    }
    CsvWriter csv;
    if (!createReportFiles(csv, command->csvFile, probeCsvHeader(), command->junitFile, &problem))
        return usageError(err, problem);

    ProbeRunner runner(command->settings, replay);
    QObject::connect(&runner, &ProbeRunner::caseDone, [&](const ProbeResult &result) {
        if (!result.alive || replay)
            writeText(out, probeCaseLine(result) + QLatin1Char('\n'));
        if (csv.isOpen())
            csv.writeRow(probeCsvRow(result));
    });
    int stoppedBySignal = 0;
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::signalled, [&](int number) {
        if (stoppedBySignal)
            return;
        stoppedBySignal = number;
        runner.stop(signalName(number));
    });
    QEventLoop loop;
    QObject::connect(&runner, &ProbeRunner::finished, &loop, &QEventLoop::quit);
    runner.start();
    loop.exec();
    writeText(out, probeSummary(command->settings, runner));
    if (!command->junitFile.isEmpty() &&
        !writeJunitFile(command->junitFile, probeJunitReport(command->settings, runner),
                        &problem)) {
        writeText(err, QStringLiteral("%1: cannot write %2: %3\n")
                           .arg(QLatin1String(kProgram), command->junitFile, problem));
        return 2;
    }
    return probeExitStatus(runner, stoppedBySignal);
}

int probeMain(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    return runProbe(QCoreApplication::arguments(), out, err);
}
