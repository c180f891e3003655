// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiverapp.h"

#include "connectionroom.h"
#include "csvwriter.h"
#include "optionreader.h"
#include "receiver.h"
#include "signalwatcher.h"
#include "wiresharkfields.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kUsageError = 2;

// Every connection is a descriptor on some systems: the connection cap stays
// below what the system allows, so that accepting never runs out.
ReceiverOptions fittedToDescriptors(ReceiverOptions options) {
    const qint64 room = connectionRoom();
    if (room >= 0)
        options.maxConnections = int(std::min<qint64>(options.maxConnections, room));
    return options;
}

// Line-buffered: a pipe sees each line at once.
void writeLine(FILE *stream, const QString &line) {
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString listeningText(const Receiver &receiver) {
    const ReceiverOptions &options = receiver.options();
    const QString address = options.listenAddress.toString();
    const auto side = [&](bool refused, quint16 port, const char *name) {
        return refused ? QStringLiteral("%1 refused").arg(QLatin1StringView(name))
                       : QStringLiteral("%1 on %2 port %3")
                             .arg(QLatin1StringView(name), address)
                             .arg(port);
    };
    return QStringLiteral("talvrecv listening: %1, %2")
        .arg(side(options.refuseType4, receiver.type4Port(), "Type 4"),
             side(options.refuseType5, receiver.type5Port(), "Type 5"));
}

const QStringList &recordHeader() {
    static const QStringList header{QStringLiteral("time"),   QStringLiteral("side"),
                                    QStringLiteral("peer"),   QStringLiteral("event"),
                                    QStringLiteral("detail"), QStringLiteral("verdict"),
                                    QStringLiteral("reason")};
    return header;
}

int run(const ReceiverOptions &options) {
    // Made before listening, so that a bad path stops the run before any peer is served.
    CsvWriter records;
    QString error;
    if (!options.csvFile.isEmpty() && !records.open(options.csvFile, recordHeader(), &error)) {
        writeLine(stderr,
                  QStringLiteral("talvrecv: cannot create %1: %2").arg(options.csvFile, error));
        return kUsageError;
    }
    Receiver receiver(fittedToDescriptors(options));
    if (records.isOpen())
        QObject::connect(&receiver, &Receiver::recordReady,
                         [&records](const QStringList &fields) { records.writeRow(fields); });
    if (!options.quiet)
        QObject::connect(&receiver, &Receiver::lineReady,
                         [](const QString &line) { writeLine(stdout, line); });
    if (!receiver.start(&error)) {
        writeLine(stderr, QStringLiteral("talvrecv: %1").arg(error));
        return kUsageError;
    }
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::signalled, qApp, &QCoreApplication::quit);
    // From here on a signal ends the run with the summary. Quiet or not, the ports chosen
    // for port 0 are said: nothing else tells a script where to connect.
    writeLine(stdout, listeningText(receiver));
    if (options.durationMs > 0)
        QTimer::singleShot(options.durationMs, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    receiver.stop();
    for (const QString &line : receiver.stats().summaryLines())
        writeLine(stdout, line);
    return receiver.stats().exitStatus();
}

} // namespace

int runReceiverApp(const QStringList &arguments) {
    const ReceiverCommandLine commandLine = parseReceiverCommandLine(arguments);
    switch (commandLine.action) {
    case ReceiverCommandLine::Action::Help:
        writeLine(stdout, commandLine.helpText.trimmed());
        return 0;
    case ReceiverCommandLine::Action::Version:
        writeLine(stdout, versionLine(QStringLiteral("talvrecv")));
        return 0;
    case ReceiverCommandLine::Action::WiresharkFields:
        std::fputs(wiresharkFieldsLua(commandLine.options).constData(), stdout);
        return 0;
    case ReceiverCommandLine::Action::UsageError:
        writeLine(stderr, usageErrorText(QStringLiteral("talvrecv"), commandLine.error));
        return kUsageError;
    case ReceiverCommandLine::Action::Run:
        break;
    }
    return run(commandLine.options);
}
