// SPDX-License-Identifier: GPL-3.0-or-later
// The window under a flood: the real window (offscreen) against a peer on
// 127.0.0.1 that pushes 50 MB at link 2 as fast as the window reads, and then
// a peer that floods link 1 on every connection while link 2's peer sends
// heartbeats. A timer on the UI thread every 10 ms measures the longest stall
// of the thread; Stop is pressed halfway through the link 2 flood. Goal: the
// longest stall under 250 ms. Prints figures; never fails.

#include "frmipndzandrel.h"
#include "type4link.h"
#include "type5link.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <functional>

namespace {

constexpr qint64 kFloodBytes = 50'000'000;
constexpr qint64 kChunkBytes = 64 * 1024;
constexpr qint64 kQueuedBytes = 1024 * 1024; // kept queued on the peer's side
constexpr int kProbeIntervalMs = 10;
constexpr int kStallGoalMs = 250;
constexpr int kLink1Connections = 10;
constexpr int kHeartbeatIntervalMs = 200;
const QByteArray kHeartbeat = QByteArrayLiteral("\x02H\x03");
const QByteArray kHeartbeatAnswer = QByteArrayLiteral("\x02\x06\x03");

// Both receivers on a thread of their own, as on another host. Type 5: pushes
// kFloodBytes after the first document when flood5 is set; heartbeats on
// request. Type 4: pushes until link 1 closes, on every connection.
class FloodingPeer : public QObject {
public:
    std::atomic<quint16> port4 = 0;
    std::atomic<quint16> port5 = 0;
    std::atomic<bool> flood5 = true;
    std::atomic<qint64> pushed4 = 0;
    std::atomic<qint64> pushed5 = 0;
    std::atomic<int> heartbeatsAnswered = 0;

    void listen() {
        for (QTcpServer **server : {&m_server4, &m_server5}) {
            *server = new QTcpServer(this);
            (*server)->listen(QHostAddress::LocalHost, 0);
        }
        port4 = m_server4->serverPort();
        port5 = m_server5->serverPort();
        connect(m_server4, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server4->nextPendingConnection())
                welcome(socket, false);
        });
        connect(m_server5, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server5->nextPendingConnection()) {
                m_type5 = socket;
                welcome(socket, true);
            }
        });
    }

    // Called on the peer's thread.
    void sendHeartbeat() {
        if (m_type5)
            m_type5->write(kHeartbeat);
    }

private:
    void welcome(QTcpSocket *socket, bool type5) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, type5] {
            const QByteArray data = socket->readAll();
            heartbeatsAnswered += int(data.count(kHeartbeatAnswer));
            if (!socket->property("flooding").toBool() && (!type5 || flood5)) {
                socket->setProperty("flooding", true);
                pump(socket, type5);
            }
        });
        connect(socket, &QTcpSocket::bytesWritten, this,
                [this, socket, type5] { pump(socket, type5); });
    }

    void pump(QTcpSocket *socket, bool type5) {
        if (!socket->property("flooding").toBool())
            return;
        static const QByteArray chunk(kChunkBytes, 'F');
        std::atomic<qint64> &pushed = type5 ? pushed5 : pushed4;
        while (socket->state() == QAbstractSocket::ConnectedState &&
               socket->bytesToWrite() < kQueuedBytes && (!type5 || pushed < kFloodBytes)) {
            const qint64 size = type5 ? qMin(kChunkBytes, kFloodBytes - pushed) : kChunkBytes;
            pushed += socket->write(chunk.constData(), size);
        }
    }

    QTcpServer *m_server4 = nullptr;
    QTcpServer *m_server5 = nullptr;
    QTcpSocket *m_type5 = nullptr;
};

// The longest gap between ticks of a 10 ms timer on the UI thread, less the interval.
class StallProbe {
public:
    StallProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kProbeIntervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longestMs = qMax(m_longestMs, m_sinceTick.restart() - kProbeIntervalMs);
        });
    }
    void start() {
        m_longestMs = 0;
        m_sinceTick.start();
        m_timer.start();
    }
    qint64 stop() {
        m_timer.stop();
        return m_longestMs;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longestMs = 0;
};

bool waitUntil(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

double peakResidentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QThread peerThread;
    peerThread.start();
    auto *peer = new FloodingPeer;
    peer->moveToThread(&peerThread);
    QMetaObject::invokeMethod(
        peer, [peer] { peer->listen(); }, Qt::BlockingQueuedConnection);

    frmIPNDZandrel window;
    window.Form_Load(QStringLiteral("%1 127.0.0.1 1 %2 127.0.0.1 1 1")
                         .arg(peer->port4.load())
                         .arg(peer->port5.load()));
    window.optRecType[1]->setChecked(true); // AML (Type5): the Send button
    StallProbe probe;

    // Link 2: 50 MB after the canned document; Stop pressed halfway.
    qint64 read5 = 0;
    qint64 stopLatencyMs = -1;
    QElapsedTimer pressed;
    QObject::connect(&window.frmTCP2(), &TcpLink::responseArrived, [&](const QByteArray &data) {
        const bool halfway = read5 < kFloodBytes / 2 && read5 + data.size() >= kFloodBytes / 2;
        read5 += data.size();
        if (!halfway)
            return;
        pressed.start();
        QTimer::singleShot(0, &window, [&] {
            window.RunControl->click();
            if (!window.gRunning)
                stopLatencyMs = pressed.elapsed();
        });
    });
    window.RunControl->click(); // Start: the cycle runs (no data file: it sends nothing)
    const QString logBefore = window.logText();
    probe.start();
    QElapsedTimer flood;
    flood.start();
    window.cmdSend5->click();
    const bool allRead = waitUntil([&] { return read5 >= kFloodBytes; }, 600'000);
    const qint64 floodMs = flood.elapsed();
    const qint64 stall5 = probe.stop();
    const int shown5 = int(window.txbMessage->toPlainText().size());
    QElapsedTimer answer;
    answer.start();
    QMetaObject::invokeMethod(peer, [peer] { peer->sendHeartbeat(); });
    const bool answered5 = waitUntil([&] { return peer->heartbeatsAnswered >= 1; }, 5000);
    const qint64 answerMs = answer.elapsed();

    std::printf("Longest stall of the UI thread during a 50 MB flood (the real window offscreen, "
                "a peer on 127.0.0.1; goal under %d ms)\n\n",
                kStallGoalMs);
    std::printf("link 2: %.1f MB read in %.1f s (%s), longest stall %lld ms, \"Last message\" "
                "holds %d characters;\n        Stop pressed halfway %s; heartbeat after the "
                "flood answered %s in %lld ms; log %s\n",
                double(read5) / 1e6, double(floodMs) / 1000.0, allRead ? "all" : "NOT all",
                static_cast<long long>(stall5), shown5,
                stopLatencyMs >= 0
                    ? qPrintable(QStringLiteral("took effect in %1 ms").arg(stopLatencyMs))
                    : "did NOT take effect",
                answered5 ? "yes" : "NO", static_cast<long long>(answerMs),
                window.logText() != logBefore ? "updated" : "NOT updated");

    // Link 1: a flood on each of ten connections, heartbeats on link 2 meanwhile.
    peer->flood5 = false;
    const int answeredBefore = peer->heartbeatsAnswered;
    int heartbeatsSent = 0;
    QTimer heartbeats;
    QObject::connect(&heartbeats, &QTimer::timeout, [&] {
        ++heartbeatsSent;
        QMetaObject::invokeMethod(peer, [peer] { peer->sendHeartbeat(); });
    });
    window.optRecType[0]->setChecked(true); // MOLI (Type4): the canned buttons
    Type4Link &link1 = window.frmTCP1();
    probe.start();
    heartbeats.start(kHeartbeatIntervalMs);
    int closed = 0;
    for (int i = 0; i < kLink1Connections; ++i) {
        window.cmdStandard->click();
        if (waitUntil(
                [&] {
                    return link1.gPendingType4Packet.isEmpty() &&
                           link1.wskMessage().socketState() == SocketState::Closed;
                },
                10'000))
            ++closed;
    }
    heartbeats.stop();
    waitUntil([&] { return peer->heartbeatsAnswered - answeredBefore >= heartbeatsSent; }, 2000);
    const qint64 stall1 = probe.stop();
    std::printf("link 1: %d of %d connections flooded and closed after their first arrival "
                "(%.1f MB pushed in all), longest stall %lld ms;\n        heartbeats on link 2 "
                "meanwhile answered %d of %d\n",
                closed, kLink1Connections, double(peer->pushed4) / 1e6,
                static_cast<long long>(stall1), peer->heartbeatsAnswered - answeredBefore,
                heartbeatsSent);
    std::printf("peak resident memory of the process (window and peer): %.1f MB\n",
                peakResidentMb());
    std::printf("longest stall of the UI thread during a 50 MB flood: %lld ms (goal under %d "
                "ms)\n",
                static_cast<long long>(qMax(stall5, stall1)), kStallGoalMs);

    window.Form_Unload();
    QMetaObject::invokeMethod(
        peer, [peer] { delete peer; }, Qt::BlockingQueuedConnection);
    peerThread.quit();
    peerThread.wait();
    return 0;
}
