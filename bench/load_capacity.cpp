// SPDX-License-Identifier: GPL-3.0-or-later
// The load engine of `talvgen-cli load` against talvrecv on 127.0.0.1 (its
// own process, printing nothing):
//  1. Type 4, one connection per frame: the highest rate the engine sustains
//     with no failure and p99 under 10 ms, as a ratio to the highest a
//     minimal client with plain non-blocking POSIX sockets (connect, send the
//     Standard frame, read the answer, close) sustains by the same rule: the
//     same open-loop schedule, timed from the due time, the same number in
//     flight at most, against the same talvrecv, one after the other at each
//     rate. The rates are tenths of the client's closed-loop top speed, which
//     is printed too (its latency is whatever its queue makes it).
//  2. The same for Type 5 documents over 50 lasting connections.
//  3. Resident memory growth of the engine at 2,000 frames a second.
//  4. Latency against `talvrecv --delay 50` at 1,000 frames a second: p50,
//     then p99.9 with talvrecv paused (SIGSTOP) for 1 s mid-run.
//
//   bench_load_capacity [--memory-seconds N (default 600)] [--step-seconds N (default 3)]
//                       [--only capacity|memory|latency]

#include "amllayout.h"
#include "cannedrecords.h"
#include "latencyhistogram.h"
#include "loadengine.h"
#include "loadoptions.h"
#include "loadrecords.h"
#include "type4frame.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <vector>

namespace {

constexpr int kType4InFlight = 256;
constexpr int kCarriers = 50;
constexpr double kP99LimitUs = 10'000;

quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

qint64 residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// talvrecv, quiet, its output thrown away.
class Talvrecv {
public:
    bool start(const QStringList &extra) {
        type4 = freePort();
        type5 = freePort();
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStringLiteral(TALVRECV_PATH),
                        QStringList{QStringLiteral("--type4-port"), QString::number(type4),
                                    QStringLiteral("--type5-port"), QString::number(type5),
                                    QStringLiteral("--quiet")} +
                            extra);
        for (int i = 0; i < 200; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, type5);
            if (probe.waitForConnected(100))
                return true;
            QThread::msleep(20);
        }
        return false;
    }
    ~Talvrecv() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }
    qint64 pid() const { return m_process.processId(); }

    quint16 type4 = 0;
    quint16 type5 = 0;

private:
    QProcess m_process;
};

int connectNonBlocking(quint16 port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    return fd;
}

void sendAll(int fd, const QByteArray &bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN)
            return;
        sent += n > 0 ? n : 0;
    }
}

// The minimal client: `inFlight` connections, each connect, send, read the
// three-byte answer, close, and again. Answers a second.
double minimalType4(quint16 port, int inFlight, double seconds, LatencyHistogram &latency) {
    const QByteArray frame =
        frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), false);
    std::vector<pollfd> fds(static_cast<size_t>(inFlight));
    std::vector<int> got(size_t(inFlight), 0);
    std::vector<bool> sentFrame(size_t(inFlight), false);
    std::vector<qint64> startedNs(size_t(inFlight), 0);
    QElapsedTimer clock;
    clock.start();
    for (pollfd &p : fds)
        p = {connectNonBlocking(port), POLLOUT, 0};
    qint64 answers = 0;
    while (clock.nsecsElapsed() < qint64(seconds * 1e9)) {
        poll(fds.data(), fds.size(), 10);
        for (size_t i = 0; i < fds.size(); ++i) {
            pollfd &p = fds[i];
            if (p.revents == 0)
                continue;
            bool renew = (p.revents & (POLLERR | POLLHUP)) != 0;
            if (!renew && !sentFrame[i] && (p.revents & POLLOUT)) {
                sendAll(p.fd, frame);
                sentFrame[i] = true;
                p.events = POLLIN;
            } else if (!renew && (p.revents & POLLIN)) {
                char buffer[64];
                const ssize_t n = recv(p.fd, buffer, sizeof buffer, 0);
                got[i] += n > 0 ? int(n) : 0;
                renew = n <= 0 || got[i] >= 3;
                if (got[i] >= 3) {
                    ++answers;
                    latency.record((clock.nsecsElapsed() - startedNs[i]) / 1000);
                }
            }
            if (renew) {
                close(p.fd);
                p = {connectNonBlocking(port), POLLOUT, 0};
                startedNs[i] = clock.nsecsElapsed();
                got[i] = 0;
                sentFrame[i] = false;
            }
        }
    }
    for (const pollfd &p : fds)
        close(p.fd);
    return double(answers) / seconds;
}

// The minimal Type 5 client: `connections` lasting connections, each with
// one document in flight. Answers a second.
double minimalType5(quint16 port, int connections, double seconds, LatencyHistogram &latency) {
    const QByteArray document = cannedAmlDocument();
    std::vector<pollfd> fds(static_cast<size_t>(connections));
    std::vector<int> got(size_t(connections), 0);
    std::vector<qint64> sentNs(size_t(connections), 0);
    for (pollfd &p : fds)
        p = {connectNonBlocking(port), POLLOUT, 0};
    qint64 answers = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.nsecsElapsed() < qint64(seconds * 1e9)) {
        poll(fds.data(), fds.size(), 10);
        for (size_t i = 0; i < fds.size(); ++i) {
            pollfd &p = fds[i];
            if (p.revents & POLLOUT) {
                sendAll(p.fd, document);
                sentNs[i] = clock.nsecsElapsed();
                p.events = POLLIN;
            } else if (p.revents & POLLIN) {
                char buffer[64];
                const ssize_t n = recv(p.fd, buffer, sizeof buffer, 0);
                got[i] += n > 0 ? int(n) : 0;
                while (got[i] >= 3) {
                    got[i] -= 3;
                    ++answers;
                    latency.record((clock.nsecsElapsed() - sentNs[i]) / 1000);
                    sendAll(p.fd, document);
                    sentNs[i] = clock.nsecsElapsed();
                }
            }
        }
    }
    for (const pollfd &p : fds)
        close(p.fd);
    return double(answers) / seconds;
}

// What one paced run gave, by the rule of the capacity figures: every
// arrival answered (none refused, reset, unanswered within 2 s, or not sent
// because `inFlight` were already out) and p99 from the due time.
struct PacedRun {
    qint64 answered = 0;
    qint64 failed = 0;
    qint64 p50 = 0, p99 = 0;
};

// The minimal client paced as the engine is: arrivals evenly spaced at
// `rate` for `seconds`, each timed from its due time, at most `inFlight` out.
// Type 4: a connection per arrival (connect, send, read the answer, close).
// Type 5: the next of `inFlight` lasting connections in turn, one document
// per arrival (several may wait on one connection, as in the engine).
PacedRun pacedClient(bool type5, quint16 port, int inFlight, double rate, double seconds) {
    const QByteArray bytes =
        type5 ? cannedAmlDocument()
              : frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), false);
    constexpr qint64 kTimeoutNs = 2'000'000'000;
    LatencyHistogram latency;
    PacedRun run;
    struct Slot {
        std::deque<qint64> dueNs; // Type 4: one at most
        int got = 0;
        bool sent = false;
    };
    std::vector<pollfd> fds;
    std::vector<Slot> waits;
    qint64 outstanding = 0;
    QElapsedTimer clock;
    if (type5) {
        for (int i = 0; i < inFlight; ++i)
            fds.push_back({connectNonBlocking(port), POLLOUT, 0});
        waits.resize(fds.size());
        for (size_t connected = 0; connected < fds.size();) {
            poll(fds.data(), fds.size(), 1000);
            for (pollfd &p : fds)
                if (p.revents & POLLOUT) {
                    p.events = POLLIN;
                    ++connected;
                }
        }
    }
    clock.start();
    const qint64 arrivals = qint64(rate * seconds);
    const double gapNs = 1e9 / rate;
    qint64 launched = 0;
    size_t nextConnection = 0;
    const auto fail = [&](size_t i) {
        run.failed += qint64(waits[i].dueNs.size());
        outstanding -= qint64(waits[i].dueNs.size());
        close(fds[i].fd);
        fds.erase(fds.begin() + qsizetype(i));
        waits.erase(waits.begin() + qsizetype(i));
    };
    while (launched < arrivals || outstanding > 0) {
        qint64 now = clock.nsecsElapsed();
        for (; launched < arrivals && qint64(double(launched) * gapNs) <= now; ++launched) {
            const qint64 due = qint64(double(launched) * gapNs);
            if (outstanding >= inFlight || (type5 && fds.empty())) {
                ++run.failed;
                continue;
            }
            ++outstanding;
            if (type5) {
                nextConnection = (nextConnection + 1) % fds.size();
                sendAll(fds[nextConnection].fd, bytes);
                waits[nextConnection].dueNs.push_back(due);
            } else {
                fds.push_back({connectNonBlocking(port), POLLOUT, 0});
                waits.push_back({{due}, 0, false});
            }
        }
        const qint64 nextDue =
            launched < arrivals ? qint64(double(launched) * gapNs) : now + 10'000'000;
        const qint64 waitNs = std::max<qint64>(0, nextDue - now);
        const timespec wait{time_t(waitNs / 1'000'000'000), long(waitNs % 1'000'000'000)};
        ppoll(fds.data(), fds.size(), &wait, nullptr);
        now = clock.nsecsElapsed();
        for (size_t i = fds.size(); i-- > 0;) {
            pollfd &p = fds[i];
            Slot &slot = waits[i];
            if (!slot.dueNs.empty() && slot.dueNs.front() + kTimeoutNs < now) {
                fail(i);
                continue;
            }
            if (p.revents == 0)
                continue;
            if (!type5 && !slot.sent && (p.revents & POLLOUT) && !(p.revents & POLLERR)) {
                sendAll(p.fd, bytes);
                slot.sent = true;
                p.events = POLLIN;
                continue;
            }
            char buffer[256];
            const ssize_t n = recv(p.fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                fail(i);
                continue;
            }
            slot.got += int(n);
            for (; slot.got >= 3 && !slot.dueNs.empty(); slot.got -= 3) {
                latency.record((now - slot.dueNs.front()) / 1000);
                slot.dueNs.pop_front();
                --outstanding;
                ++run.answered;
            }
            if (!type5 && slot.dueNs.empty()) {
                close(p.fd);
                fds.erase(fds.begin() + qsizetype(i));
                waits.erase(waits.begin() + qsizetype(i));
            }
        }
    }
    for (const pollfd &p : fds)
        close(p.fd);
    run.p50 = latency.valueAtPercentile(50);
    run.p99 = latency.valueAtPercentile(99);
    return run;
}

struct EngineRun {
    qint64 answered = 0;
    qint64 failed = 0;
    qint64 p50 = 0, p99 = 0, p999 = 0, max = 0;
    double seconds = 0;
};

// The load engine in this process, one link, to the end of its arrivals.
EngineRun runEngine(const QStringList &options,
                    const std::function<void(double)> &everySecond = {}) {
    const ParsedLoadOptions parsed =
        parseLoadOptions(QStringList{QStringLiteral("bench"), QStringLiteral("load")} + options);
    if (parsed.action != ParsedLoadOptions::Action::Run) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(parsed.message));
        std::exit(1);
    }
    LoadRecords records;
    QString error;
    records.prepare(parsed.options, &error);
    const QHostAddress local(QHostAddress::LocalHost);
    LoadEngine engine(parsed.options, records, local, local);
    QObject::connect(&engine, &LoadEngine::secondEnded, [&] {
        for (LinkTally *t : engine.tallies())
            t->startSecond();
        if (everySecond)
            everySecond(engine.elapsedSeconds());
    });
    QSignalSpy finished(&engine, &LoadEngine::finished);
    engine.start();
    while (finished.isEmpty())
        finished.wait(1000);
    const LinkTally &t = *engine.tallies().front();
    return {t.answered,
            t.failed(),
            t.latency.valueAtPercentile(50),
            t.latency.valueAtPercentile(99),
            t.latency.valueAtPercentile(99.9),
            t.latency.max(),
            engine.elapsedSeconds()};
}

// The highest of the rates tried that each side sustains with no failure
// and p99 under the limit: the minimal client paced by the same schedule and
// the engine, one after the other at each rate, against the same talvrecv
// with the same number in flight. The rates go up in tenths of the closed
// loop client's top speed until both sides have failed at one.
void sustained(const char *what, bool type5, quint16 port, const QStringList &link, int inFlight,
               double topSpeed, double stepSeconds) {
    double bestEngine = 0;
    double bestClient = 0;
    EngineRun bestRun;
    bool engineHolds = true;
    bool clientHolds = true;
    for (int tenth = 1; tenth <= 12 && (engineHolds || clientHolds); ++tenth) {
        const double rate = double(qint64(topSpeed * tenth / 10));
        // Each side has a second try at a rate: the machine is shared and
        // a stall of a few milliseconds anywhere breaks the p99.
        for (int attempt = 0; attempt < 2 && clientHolds; ++attempt) {
            const PacedRun client = pacedClient(type5, port, inFlight, rate, stepSeconds);
            clientHolds = client.failed == 0 && client.p99 < kP99LimitUs;
            std::printf("  client at %6.0f/s: answered %lld, failed %lld, p50 %.3f ms, p99 %.3f "
                        "ms %s\n",
                        rate, qlonglong(client.answered), qlonglong(client.failed),
                        client.p50 / 1e3, client.p99 / 1e3,
                        clientHolds ? "holds" : "does not hold");
            if (clientHolds) {
                bestClient = rate;
                break;
            }
            clientHolds = attempt == 0;
        }
        for (int attempt = 0; attempt < 2 && engineHolds; ++attempt) {
            const EngineRun run = runEngine(
                link + QStringList{QStringLiteral("--rate"),
                                   QString::number(qint64(rate)) + QStringLiteral("/s"),
                                   QStringLiteral("--duration"), QString::number(stepSeconds),
                                   QStringLiteral("--max-inflight"), QString::number(inFlight)});
            engineHolds = run.failed == 0 && run.p99 < kP99LimitUs;
            std::printf("  engine at %6.0f/s: answered %lld, failed %lld, p50 %.3f ms, p99 %.3f "
                        "ms %s\n",
                        rate, qlonglong(run.answered), qlonglong(run.failed), run.p50 / 1e3,
                        run.p99 / 1e3, engineHolds ? "holds" : "does not hold");
            if (engineHolds) {
                bestEngine = rate;
                bestRun = run;
                break;
            }
            engineHolds = attempt == 0;
        }
        std::fflush(stdout);
    }
    std::printf("%s: engine sustains %.0f/s (p99 %.3f ms, 0 failures); minimal client by the same "
                "rule %.0f/s; ratio %.2f (goal >= 0.8); to the client's closed-loop top speed "
                "%.0f/s: %.2f\n",
                what, bestEngine, bestRun.p99 / 1e3, bestClient,
                bestClient > 0 ? bestEngine / bestClient : 0, topSpeed,
                topSpeed > 0 ? bestEngine / topSpeed : 0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[]) {
    // The event loop `talvgen-cli load` runs the engine on (see loadMain).
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption memoryOption(
        QStringLiteral("memory-seconds"),
        QStringLiteral("Seconds of the memory run (default 600)."), QStringLiteral("N"),
        QStringLiteral("600"));
    const QCommandLineOption stepOption(
        QStringLiteral("step-seconds"),
        QStringLiteral("Seconds of each capacity step (default 3)."), QStringLiteral("N"),
        QStringLiteral("3"));
    const QCommandLineOption onlyOption(QStringLiteral("only"),
                                        QStringLiteral("Run that part alone."),
                                        QStringLiteral("capacity|memory|latency"));
    parser.addOptions({memoryOption, stepOption, onlyOption});
    parser.process(app);
    const double memorySeconds = parser.value(memoryOption).toDouble();
    const double stepSeconds = parser.value(stepOption).toDouble();
    const QString heartbeatOff = QStringLiteral("--heartbeat");
    const QString only = parser.value(onlyOption);
    const auto runs = [&only](const char *part) {
        return only.isEmpty() || only == QLatin1String(part);
    };

    if (runs("capacity")) {
        Talvrecv receiver;
        if (!receiver.start({heartbeatOff, QStringLiteral("0")}))
            return 1;
        const QString type4 = QStringLiteral("127.0.0.1:%1").arg(receiver.type4);
        const QString type5 = QStringLiteral("127.0.0.1:%1").arg(receiver.type5);
        LatencyHistogram latency4;
        const double client4 = minimalType4(receiver.type4, kType4InFlight, stepSeconds, latency4);
        std::printf("Type 4, connection per frame, %d in flight: minimal client closed loop %.0f/s "
                    "(p50 %.3f ms, p99 %.3f ms from connect to answer)\n",
                    kType4InFlight, client4, latency4.valueAtPercentile(50) / 1e3,
                    latency4.valueAtPercentile(99) / 1e3);
        sustained("Type 4", false, receiver.type4,
                  {QStringLiteral("--type4"), type4, QStringLiteral("--record"),
                   QStringLiteral("standard")},
                  kType4InFlight, client4, stepSeconds);
        LatencyHistogram latency5;
        const double client5 = minimalType5(receiver.type5, kCarriers, stepSeconds, latency5);
        std::printf("Type 5, %d lasting connections: minimal client closed loop %.0f/s (p50 %.3f "
                    "ms, p99 %.3f "
                    "ms from send to answer)\n",
                    kCarriers, client5, latency5.valueAtPercentile(50) / 1e3,
                    latency5.valueAtPercentile(99) / 1e3);
        sustained("Type 5", true, receiver.type5,
                  {QStringLiteral("--type5"), type5, QStringLiteral("--carriers"),
                   QString::number(kCarriers)},
                  kCarriers, client5, stepSeconds);
    }
    if (runs("memory")) {
        Talvrecv receiver;
        if (!receiver.start({heartbeatOff, QStringLiteral("0")}))
            return 1;
        qint64 warmKb = 0;
        qint64 peakKb = 0;
        const EngineRun run = runEngine(
            {QStringLiteral("--type4"), QStringLiteral("127.0.0.1:%1").arg(receiver.type4),
             QStringLiteral("--rate"), QStringLiteral("2000/s"), QStringLiteral("--duration"),
             QString::number(memorySeconds)},
            [&](double elapsed) {
                const qint64 kb = residentKb();
                if (elapsed < 10.5)
                    warmKb = kb; // after the first seconds' allocations
                peakKb = std::max(peakKb, kb);
            });
        std::printf(
            "Memory at 2000 frames/s for %.0f s: resident %lld KiB after 10 s, %lld KiB at "
            "the end (peak %lld), growth %lld KiB (goal < 5120); answered %lld, failed %lld, "
            "p99 %.3f ms\n",
            memorySeconds, qlonglong(warmKb), qlonglong(residentKb()), qlonglong(peakKb),
            qlonglong(residentKb() - warmKb), qlonglong(run.answered), qlonglong(run.failed),
            run.p99 / 1e3);
        std::fflush(stdout);
    }
    if (runs("latency")) {
        Talvrecv receiver;
        if (!receiver.start({QStringLiteral("--delay"), QStringLiteral("50"), heartbeatOff,
                             QStringLiteral("0")}))
            return 1;
        const QStringList options{
            QStringLiteral("--type4"),        QStringLiteral("127.0.0.1:%1").arg(receiver.type4),
            QStringLiteral("--rate"),         QStringLiteral("1000/s"),
            QStringLiteral("--duration"),     QStringLiteral("6"),
            QStringLiteral("--max-inflight"), QStringLiteral("5000"),
            QStringLiteral("--timeout"),      QStringLiteral("5000")};
        const EngineRun steady = runEngine(options);
        std::printf(
            "talvrecv --delay 50 at 1000 frames/s: p50 %.3f ms (goal 50 within 1 ms), p99 %.3f "
            "ms, p99.9 %.3f ms, failed %lld\n",
            steady.p50 / 1e3, steady.p99 / 1e3, steady.p999 / 1e3, qlonglong(steady.failed));
        const qint64 pid = receiver.pid();
        bool paused = false;
        const EngineRun stalled = runEngine(options, [&](double elapsed) {
            if (elapsed > 2.5 && !paused) {
                paused = true;
                kill(pid_t(pid), SIGSTOP);
                QTimer::singleShot(1000, [pid] { kill(pid_t(pid), SIGCONT); });
            }
        });
        std::printf("  with talvrecv stopped for 1 s mid-run: p50 %.3f ms, p99 %.3f ms, p99.9 %.3f "
                    "ms, max %.3f ms, failed %lld\n",
                    stalled.p50 / 1e3, stalled.p99 / 1e3, stalled.p999 / 1e3, stalled.max / 1e3,
                    qlonglong(stalled.failed));
    }
    return 0;
}
