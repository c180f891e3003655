// SPDX-License-Identifier: GPL-3.0-or-later
// How faithfully link 1 times a response: the counted 10 ms timer
// (gResponseTime, as the "Response Time N milliseconds" line logs it) and the
// precise measurement (packet handed over to first response byte), each
// against the time a peer on 127.0.0.1 really held its answer back.
//
// The link's send poll is driven by hand: the packet goes out as soon as the
// connection is up, and no poll closes the connection while the peer holds
// its answer (link 1 would close it at the next poll, 100 ms after sending).
// Goals: precise within 1 ms of the hold, counted within 2%. Prints figures;
// never fails.

#include "cannedrecords.h"
#include "linkhost.h"
#include "type4frame.h"
#include "type4link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr double kPreciseGoalMs = 1.0;
constexpr double kCountedGoalRatio = 0.02;
constexpr int kExchangeMarginMs = 5000;

struct DelayPlan {
    int delayMs;
    int packets;
};
constexpr DelayPlan kPlans[] = {{0, 10}, {50, 10}, {500, 4}, {1500, 3}};

class BenchHost : public LinkHost {
public:
    std::function<void(const QString &)> onLog;

    void LogMessage(const QString &message) override {
        if (onLog)
            onLog(message);
    }
    QString txbAddressText(int) const override { return QStringLiteral("127.0.0.1"); }
    QString txbPortText(int) const override { return QStringLiteral("7005"); }
    void setTxbMessage(const QString &) override {}
    void setLbProcessed(const QString &) override {}
    void setLbLastDelayed(const QString &) override {}
    void setTxbDelayedCt(const QString &) override {}
    qint32 &gProcessedCount() override { return m_processed; }

private:
    qint32 m_processed = 0;
};

// Answers each connection's first data after holdMs, and notes how long it
// really held the answer back. Runs on a thread of its own, as a receiving
// system on another host would: its timers do not share the link's loop.
class HoldingPeer : public QObject {
public:
    std::atomic<int> holdMs = 0;
    std::atomic<qint64> lastHeldNs = 0;
    std::atomic<quint16> port = 0;

    // Called on the peer's thread.
    void listen() {
        m_server = new QTcpServer(this);
        m_server->listen(QHostAddress::LocalHost, 0);
        port = m_server->serverPort();
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection())
                welcome(socket);
        });
    }

private:
    void welcome(QTcpSocket *socket) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            socket->readAll();
            if (socket->property("answered").toBool())
                return;
            socket->setProperty("answered", true);
            QElapsedTimer held;
            held.start();
            holdThenAnswer(QPointer<QTcpSocket>(socket), held);
        });
    }

    // Re-arms until the full hold has passed, so the answer is never early.
    void holdThenAnswer(QPointer<QTcpSocket> socket, QElapsedTimer held) {
        const qint64 leftMs = holdMs - held.elapsed();
        if (leftMs > 0) {
            QTimer::singleShot(std::chrono::milliseconds(leftMs), Qt::PreciseTimer, this,
                               [this, socket, held] { holdThenAnswer(socket, held); });
            return;
        }
        lastHeldNs = held.nsecsElapsed();
        if (socket)
            socket->write(QByteArrayLiteral("ACK"));
    }

    QTcpServer *m_server = nullptr;
};

struct Exchange {
    bool answered = false;
    double heldMs = 0;
    double countedMs = 0;
    double preciseMs = 0;
};

// One packet as the data-file sender hands it over, and its response.
Exchange exchange(Type4Link &link, BenchHost &host, HoldingPeer &peer, const QByteArray &frame) {
    Exchange result;
    QEventLoop loop;
    host.onLog = [&](const QString &line) {
        static const QString responseLine = QStringLiteral("Response Time ");
        if (line == QLatin1String("Event: Connected"))
            QTimer::singleShot(0, &link, [&link] { link.SendTCPPacket(); });
        else if (line.startsWith(responseLine))
            result.countedMs =
                line.mid(responseLine.size()).section(QLatin1Char(' '), 0, 0).toDouble();
        else if (line.startsWith(QLatin1String("Event: Socket error")))
            loop.quit();
    };
    QObject::connect(&link, &TcpLink::responseMeasured, &loop, [&](qint64 usec) {
        result.answered = true;
        result.preciseMs = static_cast<double>(usec) / 1000.0;
        loop.quit();
    });
    QTimer::singleShot(peer.holdMs.load() + kExchangeMarginMs, &loop, &QEventLoop::quit);

    link.wskMessage().setRemoteHost(QStringLiteral("127.0.0.1"));
    link.wskMessage().setRemotePort(peer.port);
    link.gPendingType4Packet = frame;
    link.gResponseTime = 0;
    link.tmrPacketResponse().start();
    link.SendTCPPacket(); // finds the socket closed and connects
    loop.exec();
    host.onLog = nullptr;
    result.heldMs = static_cast<double>(peer.lastHeldNs) / 1e6;
    return result;
}

QString ratio(double value, double held) {
    return held < 1.0 ? QStringLiteral("     -") : QString::number(value / held, 'f', 4);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    BenchHost host;
    Type4Link link(host);
    link.timerTCP().stop(); // the poll is driven by hand
    QThread peerThread;
    peerThread.start();
    auto *peerObject = new HoldingPeer;
    peerObject->moveToThread(&peerThread);
    QMetaObject::invokeMethod(
        peerObject, [peerObject] { peerObject->listen(); }, Qt::BlockingQueuedConnection);
    HoldingPeer &peer = *peerObject;
    const QByteArray frame = frameCannedRecord(QByteArrayLiteral("999"),
                                               cannedIpndRecord(CannedRecord::Standard), false);

    peer.holdMs = 0;
    exchange(link, host, peer, frame); // warm-up: first connection, first timers

    std::printf("Link 1 response fidelity on 127.0.0.1: counted 10 ms timer and precise "
                "measurement\nagainst the time the peer held its answer (means over the "
                "packets; worst = largest difference)\n\n");
    std::printf("%6s %7s %10s %10s %8s %10s %8s %13s %14s\n", "delay", "packets", "held ms",
                "counted ms", "ratio", "precise ms", "ratio", "worst prec ms", "worst count ms");
    bool preciseMet = true;
    bool countedMet = true;
    for (const DelayPlan &plan : kPlans) {
        peer.holdMs = plan.delayMs;
        double held = 0, counted = 0, precise = 0, worstPrecise = 0, worstCounted = 0;
        int answered = 0;
        for (int i = 0; i < plan.packets; ++i) {
            const Exchange one = exchange(link, host, peer, frame);
            if (!one.answered)
                continue;
            ++answered;
            held += one.heldMs;
            counted += one.countedMs;
            precise += one.preciseMs;
            worstPrecise = std::max(worstPrecise, std::abs(one.preciseMs - one.heldMs));
            const double countedOff = std::abs(one.countedMs - one.heldMs);
            worstCounted = std::max(worstCounted, countedOff);
            // Under 1 ms nothing but a count of 0 is within 2%.
            countedMet =
                countedMet && (one.heldMs < 1.0 ? one.countedMs == 0.0
                                                : countedOff <= kCountedGoalRatio * one.heldMs);
        }
        if (answered == 0) {
            std::printf("%6d %7d   no answers\n", plan.delayMs, plan.packets);
            preciseMet = countedMet = false;
            continue;
        }
        held /= answered;
        counted /= answered;
        precise /= answered;
        preciseMet = preciseMet && worstPrecise <= kPreciseGoalMs;
        std::printf("%6d %7d %10.3f %10.1f %8s %10.3f %8s %13.3f %14.3f\n", plan.delayMs, answered,
                    held, counted, qPrintable(ratio(counted, held)), precise,
                    qPrintable(ratio(precise, held)), worstPrecise, worstCounted);
    }
    std::printf("\nGoal, precise within %.0f ms of the hold: %s\n", kPreciseGoalMs,
                preciseMet ? "met" : "NOT met");
    std::printf("Goal, counted within %.0f%% of the hold: %s\n", kCountedGoalRatio * 100,
                countedMet ? "met" : "NOT met");
    std::printf("(Ratios are left out for a hold under 1 ms; there the counted goal needs a "
                "count of 0.)\n");
    QMetaObject::invokeMethod(
        peerObject, [peerObject] { delete peerObject; }, Qt::BlockingQueuedConnection);
    peerThread.quit();
    peerThread.wait();
    return 0;
}
