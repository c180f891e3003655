// SPDX-License-Identifier: GPL-3.0-or-later
// talvgen-cli load and talvrecv side by side with rawpeer, the minimal epoll
// peer of ../shared/perf/rawpeer.c, built here with cc. Type 4, a connection
// per frame, the canned Standard frame, 8 exchanges in flight; in each round,
// with the servers up, the figures take turns in slices:
//   raw client -> raw server          exchanges a second
//   talvgen-cli load -> raw server    answered a second, as a share of the raw client
//   raw client -> talvrecv            exchanges a second, as a share of the raw server,
//                                     as it is and with --close-after-reply
// The load mode has no closed loop: it runs at --rate, far above what any
// side answers, with --max-inflight 8, so that an exchange that ends is
// replaced as soon as the next arrival falls due; arrivals that find 8 out
// are shortfall, which is not counted here. talvrecv runs --quiet. Beside
// each rate, the CPU each side spent an exchange: a figure the rest of the
// machine disturbs less than the rates.
//
//   bench_raw_peer_ratio [--seconds N (3)] [--slices N (3)] [--rounds N (3)]
//                        [--rate N (1000000)] [--talvgen-cli PATH] [--talvrecv PATH]

#include "cannedrecords.h"
#include "type4frame.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace {

constexpr int kInFlight = 8;

struct Settings {
    double seconds = 3;
    int slices = 3;
    int rounds = 3;
    qint64 rate = 1'000'000;
    QString talvgenCli;
    QString talvrecv;
};

Settings parseSettings(const QCoreApplication &app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("talvgen-cli load and talvrecv beside rawpeer, a minimal epoll peer."));
    parser.addHelpOption();
    const QCommandLineOption seconds(
        QStringLiteral("seconds"), QStringLiteral("Seconds of each figure in a round (default 3)."),
        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption slices(
        QStringLiteral("slices"),
        QStringLiteral("Turns each figure's seconds are taken in (default 3)."),
        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption rounds(QStringLiteral("rounds"),
                                    QStringLiteral("Rounds of the three figures (default 3)."),
                                    QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption rate(
        QStringLiteral("rate"),
        QStringLiteral("The load mode's rate a second (default 1000000, its highest)."),
        QStringLiteral("N"), QStringLiteral("1000000"));
    const QCommandLineOption cli(QStringLiteral("talvgen-cli"),
                                 QStringLiteral("The talvgen-cli to measure."),
                                 QStringLiteral("PATH"), QStringLiteral(TALVGEN_CLI_PATH));
    const QCommandLineOption recv(QStringLiteral("talvrecv"),
                                  QStringLiteral("The talvrecv to measure."),
                                  QStringLiteral("PATH"), QStringLiteral(TALVRECV_PATH));
    parser.addOptions({seconds, slices, rounds, rate, cli, recv});
    parser.process(app);
    Settings settings;
    settings.seconds = std::max(0.5, parser.value(seconds).toDouble());
    settings.slices = std::max(1, parser.value(slices).toInt());
    settings.rounds = std::max(1, parser.value(rounds).toInt());
    settings.rate = std::max<qint64>(1, parser.value(rate).toLongLong());
    settings.talvgenCli = parser.value(cli);
    settings.talvrecv = parser.value(recv);
    return settings;
}

// rawpeer built from the shared source into dir; empty, with the reason
// printed, when it cannot be.
QString buildRawPeer(const QTemporaryDir &dir) {
    const QString source =
        QDir::cleanPath(QStringLiteral(TALVGEN_SOURCE_DIR "/../shared/perf/rawpeer.c"));
    if (!QFileInfo::exists(source)) {
        std::printf("rawpeer: %s not found; skipped\n", qPrintable(source));
        return {};
    }
    const QString program = dir.filePath(QStringLiteral("rawpeer"));
    QProcess cc;
    cc.setProcessChannelMode(QProcess::MergedChannels);
    cc.start(QStringLiteral("cc"), {QStringLiteral("-O2"), QStringLiteral("-o"), program, source});
    if (!cc.waitForFinished(60'000) || cc.exitStatus() != QProcess::NormalExit ||
        cc.exitCode() != 0) {
        std::printf("rawpeer: cc could not build %s; skipped\n%s", qPrintable(source),
                    cc.readAll().constData());
        return {};
    }
    return program;
}

QString writeStandardFrame(const QTemporaryDir &dir) {
    const QString path = dir.filePath(QStringLiteral("standard.frame"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), false)) <= 0)
        return {};
    return path;
}

quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

std::optional<double> firstNumber(const QByteArray &text, const QString &pattern) {
    const QRegularExpressionMatch match =
        QRegularExpression(pattern).match(QString::fromLocal8Bit(text));
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toDouble();
}

// CPU seconds a running process has used (Linux: /proc/PID/stat).
double cpuSecondsOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // After the name in parentheses: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// CPU seconds of the children that have ended and been waited for.
double endedChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval &t) {
        return double(t.tv_sec) + t.tv_usec / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A program that runs for the whole round and is stopped at its end.
class Server {
public:
    ~Server() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The raw server on a free port; 0 when it will not listen.
    quint16 startRaw(const QString &rawPeer) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const quint16 port = freePort();
            m_process.start(rawPeer, {QStringLiteral("server"), QString::number(port)});
            // A port it cannot have ends it at once.
            if (m_process.waitForStarted() && !m_process.waitForFinished(300))
                return port;
        }
        return 0;
    }
    // talvrecv, quiet, on the Type 4 port it chose and says; 0 when it does not.
    quint16 startTalvrecv(const QString &talvrecv, const QStringList &extra = {}) {
        m_process.start(talvrecv, QStringList{QStringLiteral("--type4-port"), QStringLiteral("0"),
                                              QStringLiteral("--type5-port"), QStringLiteral("0"),
                                              QStringLiteral("--heartbeat"), QStringLiteral("0"),
                                              QStringLiteral("--quiet")} +
                                      extra);
        QByteArray said;
        while (!said.contains('\n') && m_process.waitForReadyRead(5000))
            said += m_process.readAllStandardOutput();
        return quint16(firstNumber(said, QStringLiteral("Type 4 on \\S+ port (\\d+)")).value_or(0));
    }
    double cpuSeconds() const { return cpuSecondsOf(m_process.processId()); }

private:
    QProcess m_process;
};

QByteArray runToEnd(const QString &program, const QStringList &arguments, double seconds) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(int(seconds * 1000) + 30'000))
        process.kill();
    process.waitForFinished();
    return process.readAll();
}

// One client against one server, summed over the slices of a round: the
// exchanges, the time they took and the CPU each side spent on them.
struct Figure {
    double exchanges = 0;
    double seconds = 0;
    double clientCpu = 0;
    double serverCpu = 0;
    double perSecond() const { return seconds > 0 ? exchanges / seconds : 0.0; }
    double clientUs() const { return exchanges > 0 ? clientCpu * 1e6 / exchanges : 0.0; }
    double serverUs() const { return exchanges > 0 ? serverCpu * 1e6 / exchanges : 0.0; }
};

// Exchanges and the seconds they took, from a client's output; nullopt when
// it printed none.
struct ClientRun {
    double exchanges = 0;
    double seconds = 0;
};
using Client = std::function<std::optional<ClientRun>()>;

bool measure(Figure &figure, const Server &server, const Client &client) {
    const double serverBefore = server.cpuSeconds();
    const double clientBefore = endedChildrenCpuSeconds();
    const std::optional<ClientRun> run = client();
    if (!run)
        return false;
    figure.exchanges += run->exchanges;
    figure.seconds += run->seconds;
    figure.clientCpu += endedChildrenCpuSeconds() - clientBefore;
    figure.serverCpu += server.cpuSeconds() - serverBefore;
    return true;
}

Client rawClient(const QString &rawPeer, quint16 port, const QString &frame, double seconds) {
    return [=]() -> std::optional<ClientRun> {
        const QByteArray out = runToEnd(rawPeer,
                                        {QStringLiteral("client"), QString::number(port), frame,
                                         QString::number(seconds), QString::number(kInFlight)},
                                        seconds);
        const std::optional<double> done = firstNumber(out, QStringLiteral("\\((\\d+) in "));
        const std::optional<double> during = firstNumber(out, QStringLiteral(" in ([0-9.]+) s"));
        if (!done || !during) {
            std::printf("  rawpeer client printed no figures:\n%s", out.constData());
            return std::nullopt;
        }
        return ClientRun{*done, *during};
    };
}

// Answered exchanges; what was sent goes to sent.
Client loadMode(const Settings &settings, quint16 port, double seconds, double *sent) {
    return [=]() -> std::optional<ClientRun> {
        const QByteArray out =
            runToEnd(settings.talvgenCli,
                     {QStringLiteral("load"), QStringLiteral("--type4"),
                      QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--record"),
                      QStringLiteral("standard"), QStringLiteral("--rate"),
                      QStringLiteral("%1/s").arg(settings.rate), QStringLiteral("--duration"),
                      QString::number(seconds), QStringLiteral("--max-inflight"),
                      QString::number(kInFlight)},
                     seconds);
        const std::optional<double> ran = firstNumber(out, QStringLiteral("Ran ([0-9.]+) s"));
        const std::optional<double> went =
            firstNumber(out, QStringLiteral("type4:.*?\\bsent (\\d+)"));
        const std::optional<double> got =
            firstNumber(out, QStringLiteral("type4:.*?\\banswered (\\d+)"));
        if (!ran || !went || !got) {
            std::printf("  talvgen-cli load printed no figures:\n%s", out.constData());
            return std::nullopt;
        }
        *sent += *went;
        return ClientRun{*got, *ran};
    };
}

struct Round {
    Figure rawToRaw;
    Figure loadToRaw;
    double loadSent = 0;
    Figure rawToTalvrecv;
    Figure rawToClosingTalvrecv;
};

void printRound(const Round &round) {
    const double raw = round.rawToRaw.perSecond();
    const auto share = [raw](const Figure &figure) {
        return raw > 0 ? figure.perSecond() / raw : 0.0;
    };
    std::printf("  raw client -> raw server        %8.0f exchanges/s; CPU an exchange: client "
                "%.1f us, server %.1f us\n",
                raw, round.rawToRaw.clientUs(), round.rawToRaw.serverUs());
    std::printf("  talvgen-cli load -> raw server  %8.0f answered/s (sent %.0f/s), %.2f of the "
                "raw client; client %.1f us\n",
                round.loadToRaw.perSecond(),
                round.loadToRaw.seconds > 0 ? round.loadSent / round.loadToRaw.seconds : 0.0,
                share(round.loadToRaw), round.loadToRaw.clientUs());
    std::printf("  raw client -> talvrecv          %8.0f exchanges/s, %.2f of the raw server; "
                "server %.1f us\n",
                round.rawToTalvrecv.perSecond(), share(round.rawToTalvrecv),
                round.rawToTalvrecv.serverUs());
    std::printf("  raw client -> talvrecv --close-after-reply, closing first as the raw server "
                "does:\n"
                "                                  %8.0f exchanges/s, %.2f of the raw server; "
                "server %.1f us\n",
                round.rawToClosingTalvrecv.perSecond(), share(round.rawToClosingTalvrecv),
                round.rawToClosingTalvrecv.serverUs());
}

// The servers run for the whole round; the figures take turns in slices, so
// that what else the machine does weighs on each alike. The raw server closes
// each connection once it has answered; talvrecv leaves that to the peer
// unless --close-after-reply, and is measured both ways.
std::optional<Round> runRound(const Settings &settings, const QString &rawPeer,
                              const QString &frame) {
    Server rawServer;
    Server receiver;
    Server closingReceiver;
    const quint16 rawPort = rawServer.startRaw(rawPeer);
    const quint16 talvrecvPort = receiver.startTalvrecv(settings.talvrecv);
    const quint16 closingPort =
        closingReceiver.startTalvrecv(settings.talvrecv, {QStringLiteral("--close-after-reply")});
    if (rawPort == 0 || talvrecvPort == 0 || closingPort == 0) {
        std::printf("  %s\n", rawPort == 0 ? "the raw server would not listen"
                                           : "talvrecv did not say its port");
        return std::nullopt;
    }
    const double slice = settings.seconds / settings.slices;
    Round round;
    for (int i = 0; i < settings.slices; ++i) {
        if (!measure(round.rawToRaw, rawServer, rawClient(rawPeer, rawPort, frame, slice)) ||
            !measure(round.loadToRaw, rawServer,
                     loadMode(settings, rawPort, slice, &round.loadSent)) ||
            !measure(round.rawToTalvrecv, receiver,
                     rawClient(rawPeer, talvrecvPort, frame, slice)) ||
            !measure(round.rawToClosingTalvrecv, closingReceiver,
                     rawClient(rawPeer, closingPort, frame, slice)))
            return std::nullopt;
    }
    printRound(round);
    return round;
}

void printRange(const char *what, std::vector<double> values, const char *goal) {
    if (values.empty())
        return;
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    std::printf("%s: %.2f-%.2f over %zu round%s%s\n", what, *low, *high, values.size(),
                values.size() == 1 ? "" : "s", goal);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const Settings settings = parseSettings(app);
    QTemporaryDir dir;
    const QString rawPeer = buildRawPeer(dir);
    if (rawPeer.isEmpty())
        return 0;
    const QString frame = writeStandardFrame(dir);
    if (frame.isEmpty()) {
        std::printf("rawpeer: cannot write the frame file; skipped\n");
        return 0;
    }
    std::printf("Type 4 beside rawpeer, a connection per frame, Standard frame, %d in flight, "
                "%.1f s a figure in %d turns; the load mode at %lld/s\n",
                kInFlight, settings.seconds, settings.slices, qlonglong(settings.rate));
    std::vector<double> loadRatios;
    std::vector<double> talvrecvRatios;
    std::vector<double> closingTalvrecvRatios;
    std::vector<double> loadCpu;
    std::vector<double> talvrecvCpu;
    for (int i = 1; i <= settings.rounds; ++i) {
        std::printf("round %d\n", i);
        std::fflush(stdout);
        const std::optional<Round> round = runRound(settings, rawPeer, frame);
        std::fflush(stdout);
        const double raw = round ? round->rawToRaw.perSecond() : 0.0;
        if (raw <= 0)
            continue;
        loadRatios.push_back(round->loadToRaw.perSecond() / raw);
        talvrecvRatios.push_back(round->rawToTalvrecv.perSecond() / raw);
        closingTalvrecvRatios.push_back(round->rawToClosingTalvrecv.perSecond() / raw);
        if (round->rawToRaw.clientUs() > 0 && round->rawToRaw.serverUs() > 0) {
            loadCpu.push_back(round->loadToRaw.clientUs() / round->rawToRaw.clientUs());
            talvrecvCpu.push_back(round->rawToTalvrecv.serverUs() / round->rawToRaw.serverUs());
        }
    }
    printRange("talvgen-cli load / raw client", loadRatios, " (goal >= 0.8)");
    printRange("talvrecv / raw server", talvrecvRatios, " (goal >= 0.8)");
    printRange("talvrecv --close-after-reply / raw server", closingTalvrecvRatios,
               " (goal >= 0.8)");
    printRange("CPU an exchange, talvgen-cli load / raw client", loadCpu, "");
    printRange("CPU an exchange, talvrecv / raw server", talvrecvCpu, "");
    return 0;
}
