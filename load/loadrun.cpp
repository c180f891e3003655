// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadrun.h"

#include "csvwriter.h"
#include "hostlookup.h"
#include "isterminal.h"
#include "junitreport.h"
#include "loadengine.h"
#include "loadoptions.h"
#include "loadrecords.h"
#include "loadreport.h"
#include "optionreader.h"
#include "reportfiles.h"
#include "signalwatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

int usageError(QIODevice &err, const QString &problem) {
    writeText(err, loadUsageError(problem) + QLatin1Char('\n'));
    return 2;
}

// The terminal's width now, as the console gives it, COLUMNS or 80.
int columnsNow(const StatusConsole &console) {
    const int columns = console.columns ? console.columns() : 0;
    if (columns > 0)
        return columns;
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && fromEnvironment > 0 ? fromEnvironment : 80;
}

} // namespace

bool isLoadCommand(int argc, char *argv[]) {
    return argc > 1 && std::strcmp(argv[1], "load") == 0;
}

int runLoad(const QStringList &arguments, QIODevice &out, QIODevice &err,
            const StatusConsole &console) {
    const ParsedLoadOptions parsed = parseLoadOptions(arguments);
    switch (parsed.action) {
    case ParsedLoadOptions::Action::Help:
        writeText(out, parsed.message);
        return 0;
    case ParsedLoadOptions::Action::Version:
        writeText(out, parsed.message + QLatin1Char('\n'));
        return 0;
    case ParsedLoadOptions::Action::UsageError:
        return usageError(err, parsed.message);
    case ParsedLoadOptions::Action::Run:
        break;
    }
    const LoadOptions &options = parsed.options;

    QString problem;
    LoadRecords records;
    if (!records.prepare(options, &problem))
        return usageError(err, problem);
    QHostAddress type4;
    QHostAddress type5;
    for (const auto &[endpoint, address] :
         {std::pair{&options.type4, &type4}, std::pair{&options.type5, &type5}}) {
        if (!*endpoint)
            continue;
        const std::optional<QHostAddress> found = lookUpHost((*endpoint)->host, &problem);
        if (!found)
            return usageError(err, problem);
        *address = *found;
    }
    CsvWriter csv;
    if (!createReportFiles(csv, options.csvFile, csvHeader(), options.junitFile, &problem))
        return usageError(err, problem);

    LoadEnd end;
    end.dataFileRefusals = records.refusalText();
    if (!end.dataFileRefusals.isEmpty())
        writeText(err, QStringLiteral("talvgen-cli load: warning: %1: %2\n")
                           .arg(options.dataFile, end.dataFileRefusals));

    LoadEngine engine(options, records, type4, type5);
    QEventLoop loop;
    QObject::connect(&engine, &LoadEngine::secondEnded, [&] {
        const double elapsed = engine.elapsedSeconds();
        const double target = engine.targetLastSecond();
        if (console.terminal) {
            // Each line as wide as the room, so it covers the last one whole.
            const int room = std::max(1, columnsNow(console) - 1);
            const QString line =
                statusLine(engine.secondsEnded(), target, engine.tallies(), room + 1);
            writeText(out, QLatin1Char('\r') + line.leftJustified(room));
        } else {
            writeText(out, statusLine(engine.secondsEnded(), target, engine.tallies()) +
                               QLatin1Char('\n'));
        }
        for (LinkTally *tally : engine.tallies()) {
            if (csv.isOpen())
                csv.writeRow(csvRow(elapsed, target, *tally));
            tally->startSecond();
        }
    });
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::signalled, [&](int number) {
        if (!engine.isRunning())
            return;
        end.stoppedBySignal = number;
        engine.stop();
    });
    QObject::connect(&engine, &LoadEngine::finished, &loop, &QEventLoop::quit);
    engine.start();
    if (engine.isRunning())
        loop.exec();

    end.elapsedSeconds = engine.elapsedSeconds();
    if (console.terminal)
        writeText(out, QStringLiteral("\n"));
    writeText(out, summaryText(end, options, engine.tallies()));
    if (!options.junitFile.isEmpty() &&
        !writeJunitFile(options.junitFile, junitReport(end, options, engine.tallies()), &problem)) {
        writeText(err, QStringLiteral("talvgen-cli load: cannot write %1: %2\n")
                           .arg(options.junitFile, problem));
        return 2;
    }
    return loadExitStatus(end, options, engine.tallies());
}

int loadMain(int argc, char *argv[]) {
    // Qt's GLib event loop wakes itself (a write and a read) each time a socket
    // notifier is switched on or off: ten system calls more per Type 4
    // connection than Qt's own loop, which the load engine therefore asks for.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    StatusConsole console;
    console.terminal = isTerminal(stdout);
    console.columns = [] {
        return terminalColumns(stdout);
    };
    return runLoad(QCoreApplication::arguments(), out, err, console);
}
