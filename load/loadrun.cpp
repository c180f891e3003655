// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadrun.h"

#include "csvwriter.h"
#include "isterminal.h"
#include "loadengine.h"
#include "loadoptions.h"
#include "loadrecords.h"
#include "loadreport.h"
#include "signalwatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QHostInfo>
#include <QSaveFile>

#include <cstring>
#include <optional>

namespace {

void write(QIODevice &device, const QString &text) {
    device.write(text.toLocal8Bit());
    if (auto *file = qobject_cast<QFile *>(&device))
        file->flush();
}

int usageError(QIODevice &err, const QString &problem) {
    write(err, QStringLiteral("talvgen-cli load: %1\n%2\n").arg(problem, loadUsageHint()));
    return 2;
}

// The address to connect to, looked up once before the run.
std::optional<QHostAddress> resolve(const QString &host, QString *problem) {
    QHostAddress address;
    if (address.setAddress(host))
        return address;
    const QHostInfo info = QHostInfo::fromName(host);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        *problem = QStringLiteral("cannot find host \"%1\": %2").arg(host, info.errorString());
        return std::nullopt;
    }
    return info.addresses().constFirst();
}

bool writeJunit(const QString &path, const QByteArray &xml, QString *problem) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(xml) != xml.size() || !file.commit()) {
        *problem = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

bool isLoadCommand(int argc, char *argv[]) {
    return argc > 1 && std::strcmp(argv[1], "load") == 0;
}

int runLoad(const QStringList &arguments, QIODevice &out, QIODevice &err, bool terminal) {
    const ParsedLoadOptions parsed = parseLoadOptions(arguments);
    if (parsed.action == ParsedLoadOptions::Action::Help) {
        write(out, parsed.message);
        return 0;
    }
    if (parsed.action == ParsedLoadOptions::Action::UsageError)
        return usageError(err, parsed.message);
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
        const std::optional<QHostAddress> found = resolve((*endpoint)->host, &problem);
        if (!found)
            return usageError(err, problem);
        *address = *found;
    }
    CsvWriter csv;
    if (!options.csvFile.isEmpty() && !csv.open(options.csvFile, csvHeader(), &problem))
        return usageError(err, problem);
    if (!options.junitFile.isEmpty() && !writeJunit(options.junitFile, {}, &problem))
        return usageError(err, problem);

    LoadEngine engine(options, records, type4, type5);
    QEventLoop loop;
    bool interrupted = false;
    QObject::connect(&engine, &LoadEngine::secondEnded, [&] {
        const double elapsed = engine.elapsedSeconds();
        const double target = engine.targetPerSecond();
        const QString line = statusLine(elapsed, target, engine.tallies());
        write(out, terminal ? QStringLiteral("\r%1\x1b[K").arg(line) : line + QLatin1Char('\n'));
        for (LinkTally *tally : engine.tallies()) {
            if (csv.isOpen())
                csv.writeRow(csvRow(elapsed, target, *tally));
            tally->startSecond();
        }
    });
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::signalled, [&] {
        interrupted = true;
        engine.stop();
    });
    QObject::connect(&engine, &LoadEngine::finished, &loop, &QEventLoop::quit);
    engine.start();
    if (engine.isRunning())
        loop.exec();

    const double elapsed = engine.elapsedSeconds();
    if (terminal)
        write(out, QStringLiteral("\n"));
    write(out, summaryText(elapsed, options, engine.tallies(), interrupted));
    if (!options.junitFile.isEmpty() &&
        !writeJunit(options.junitFile, junitReport(elapsed, options, engine.tallies()), &problem)) {
        write(err, QStringLiteral("talvgen-cli load: %1\n").arg(problem));
        return 1;
    }
    return loadExitStatus(options, engine.tallies());
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
    return runLoad(QCoreApplication::arguments(), out, err, isTerminal(stdout));
}
