// SPDX-License-Identifier: GPL-3.0-or-later
// The soak: talvrecv started turn by turn, misbehaving in each of its
// ways, and the real window, offscreen, pressed against it: more than 2000
// Type 4 packets (the canned buttons and the data-file cycle) and 500
// Type 5 documents, then hostile peers beside it. Prints every packet's
// outcome and "lost 0" when each has one; exits 1 when a packet is
// unaccounted for, a heartbeat went unanswered or talvrecv failed its
// well-behaved client or its memory bound.
//
//   soak [--figures] [--scale FACTOR] [--talvrecv PATH]
//
// --figures runs only a well-behaved turn of 2000 packets and talvrecv
// holding 2000 idle connections, and prints the memory figures (make bench).
#include "soakrun.h"

#include "frmipndzandrel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <algorithm>

#include <cmath>
#include <cstdio>

#include <sys/resource.h>

namespace {

void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

QString mb(qint64 kb) {
    return QString::number(double(kb) / 1024, 'f', 2) + QStringLiteral(" MB");
}

// The offscreen platform warns on every window size hint; nothing to act on.
void quietOffscreenHints(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (text.contains(QLatin1String("propagateSizeHints")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

QStringList opts(const char *text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Link 1 makes about six exchanges a second, link 2 about ten; the turns
// come to 2040 Type 4 packets and 515 Type 5 documents.
QList<TurnPlan> soakTurns() {
    QList<TurnPlan> turns;
    const auto add = [&turns](const char *name, const char *options, int type4, int type5) {
        TurnPlan plan;
        plan.name = QString::fromLatin1(name);
        plan.options = opts(options);
        plan.type4 = type4;
        plan.type5 = type5;
        turns << plan;
        return &turns.last();
    };
    add("well-behaved", "--heartbeat 0", 450, 120)->wellBehaved = true;
    add("slow answers", "--heartbeat 0 --delay 2500", 40, 5)->answerWaitMs = 4500;
    add("no answer", "--heartbeat 0 --no-reply", 40, 5)->answerWaitMs = 3000;
    add("close after reply", "--heartbeat 0 --close-after-reply", 400, 100)->wellBehaved = true;
    add("port refused", "--heartbeat 0 --refuse type4 --refuse type5", 40, 20);
    add("resets", "--heartbeat 0 --reset", 60, 30);
    TurnPlan *heartbeats = add("heartbeats", "--heartbeat 1", 300, 25);
    heartbeats->heartbeatSync = heartbeats->loadXml = heartbeats->wellBehaved = true;
    TurnPlan *cycle = add("data-file cycle", "--heartbeat 0", 60, 60);
    cycle->cycle = cycle->wellBehaved = true;
    add("well-behaved again", "--heartbeat 0", 250, 50)->wellBehaved = true;
    // Last: the hostile peers' 2000 sockets and 100 MB live in this process, so
    // the window's 2000-packet memory figure is read before they come.
    TurnPlan *hostile = add("hostile peers", "--heartbeat 0", 400, 100);
    hostile->hostile = hostile->wellBehaved = true;
    return turns;
}

QList<TurnPlan> figureTurns() {
    TurnPlan packets;
    packets.name = QStringLiteral("well-behaved");
    packets.options = opts("--heartbeat 0");
    packets.type4 = 800;
    packets.type5 = 1200;
    TurnPlan held;
    held.name = QStringLiteral("2000 idle connections");
    held.options = packets.options;
    held.hostile = held.holdOnly = true;
    return {packets, held};
}

// Shows the window (or a bare widget) and quits once it has been shown.
int showAndQuit(bool bare) {
    std::unique_ptr<QWidget> window;
    if (bare) {
        window = std::make_unique<QWidget>();
        window->show();
    } else {
        auto form = std::make_unique<frmIPNDZandrel>();
        form->Form_Load(QString());
        window = std::move(form);
    }
    // Asked before quitting: Qt 6's quit() closes every window first.
    bool shown = false;
    QTimer::singleShot(0, qApp, [&] {
        shown = window->isVisible();
        QCoreApplication::quit();
    });
    return qApp->exec() == 0 && shown ? 0 : 1;
}

// Median wall time, in ms, of this program started to show one or the other;
// NaN when a start failed.
double startUpMs(const QString &self, const char *mode) {
    QList<double> times;
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer took;
        took.start();
        QProcess child;
        child.start(self, {QStringLiteral("--show"), QString::fromLatin1(mode)});
        // A child that did not show its window measured nothing.
        if (!child.waitForFinished(30'000) || child.exitStatus() != QProcess::NormalExit ||
            child.exitCode() != 0)
            return std::nan("");
        times << double(took.nsecsElapsed()) / 1e6;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[]) {
    raiseDescriptorLimit();
    qInstallMessageHandler(quietOffscreenHints);
    QApplication app(argc, argv);
    SoakRun::Settings settings;
    settings.talvrecv = QStringLiteral(TALVRECV_PATH);
    settings.samples = QStringLiteral(TALVGEN_SOURCE_DIR "/samples");
    QCommandLineParser parser;
    const QCommandLineOption figuresOption(QStringLiteral("figures"),
                                           QStringLiteral("The memory figures (make bench)."));
    const QCommandLineOption scaleOption(QStringLiteral("scale"),
                                         QStringLiteral("Packets of each turn times FACTOR."),
                                         QStringLiteral("FACTOR"), QStringLiteral("1"));
    const QCommandLineOption talvrecvOption(QStringLiteral("talvrecv"),
                                            QStringLiteral("The talvrecv to run."),
                                            QStringLiteral("PATH"), settings.talvrecv);
    // The child that --figures times, showing a bare widget or the window.
    QCommandLineOption showOption(QStringLiteral("show"), QStringLiteral("Show and quit."),
                                  QStringLiteral("bare|window"));
    showOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({figuresOption, scaleOption, talvrecvOption, showOption});
    if (!parser.parse(app.arguments()) || !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "usage: soak [--figures] [--scale FACTOR] [--talvrecv PATH]\n");
        return 2;
    }
    if (parser.isSet(showOption))
        return showAndQuit(parser.value(showOption) == QLatin1String("bare"));
    const bool figures = parser.isSet(figuresOption);
    const double scale = parser.value(scaleOption).toDouble();
    settings.talvrecv = parser.value(talvrecvOption);
    if (figures) {
        const QString self = app.arguments().constFirst();
        const double bare = startUpMs(self, "bare");
        const double window = startUpMs(self, "window");
        if (std::isnan(window) || std::isnan(bare))
            std::printf("start-up to window shown: - (a start did not show its window)\n");
        else
            std::printf("start-up to window shown (offscreen, median of 7): window %.0f ms, bare "
                        "Qt widget %.0f ms, ratio %.2f (goal under 2)\n",
                        window, bare, window / bare);
        std::fflush(stdout);
    }
    QList<TurnPlan> turns = figures ? figureTurns() : soakTurns();
    for (TurnPlan &turn : turns) {
        turn.type4 = int(std::ceil(turn.type4 * scale));
        turn.type5 = int(std::ceil(turn.type5 * scale));
    }

    QElapsedTimer took;
    took.start();
    SoakRun soak(settings);
    if (figures) {
        const double idle = soak.idleCpuPercent(60);
        std::printf("idle CPU of the window over 60 s, both links enabled, heartbeats every 5 s: "
                    "%.3f %% of one core (goal under 0.5 %%)\n",
                    idle);
    }
    const bool ok = soak.run(turns);
    const qint64 rssAtEndKb = ownResidentKb();
    std::printf("\n");
    for (const QString &line : soak.ledger().report())
        std::printf("%s\n", qPrintable(line));
    for (const QString &line : soak.hostileReport())
        std::printf("%s\n", qPrintable(line));
    std::printf("window resident memory: %s after 100 packets, %s after 2000 (growth %s; goal "
                "under 2 MB)\n",
                qPrintable(mb(soak.rssAt100Kb())), qPrintable(mb(soak.rssAt2000Kb())),
                qPrintable(soak.rssAt2000Kb() ? mb(soak.rssAt2000Kb() - soak.rssAt100Kb())
                                              : QStringLiteral("-")));
    std::printf("this process at the end, the hostile peers' sockets included: %s\n",
                qPrintable(mb(rssAtEndKb)));
    std::printf("talvrecv resident memory: %s idle, %s holding 2000 idle connections\n",
                qPrintable(mb(soak.idleRssKb())), qPrintable(mb(soak.heldRssKb())));
    for (const QString &problem : soak.problems())
        std::printf("PROBLEM %s\n", qPrintable(problem));
    std::printf("soak %s in %.0f s\n", ok ? "passed" : "FAILED", double(took.elapsed()) / 1000);
    return figures || ok ? 0 : 1;
}
