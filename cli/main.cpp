// SPDX-License-Identifier: GPL-3.0-or-later
#include "headlessrun.h"
#include "loadrun.h"
#include "planrun.h"
#include "proberun.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

namespace {

// Qt's notices about running without a screen ("This plugin does not
// support raise()") are no part of a run's output; real failures still show.
void keepSeriousMessages(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char *argv[]) {
    // Capacity testing has an engine of its own, with no window.
    if (isLoadCommand(argc, argv))
        return loadMain(argc, argv);
    // So have test plans.
    if (isPlanCommand(argc, argv))
        return planMain(argc, argv);
    // And the robustness probe.
    if (isProbeCommand(argc, argv))
        return probeMain(argc, argv);
    // The real window, with no screen, unless the caller chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(keepSeriousMessages);
    // Qt would take options of its own (-reverse, -style, -platform ...) out of argv: the
    // runner's options are all the operator's.
    int qtArgumentCount = 1;
    QApplication app(qtArgumentCount, argv);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    return runTalvgenCli(arguments, out, err);
}
