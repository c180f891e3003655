// SPDX-License-Identifier: GPL-3.0-or-later
// How many Type 4 frames a second the reference receiver checks and
// answers on 127.0.0.1. The receiver runs on a thread of its own, printing
// its lines to /dev/null; a load client on the main thread sends the
// canned Standard frame, first one connection per frame as talvgen does
// (several connections in flight), then many frames on one connection.
//
//   bench_receiver_throughput [seconds per run, default 3]

#include "cannedrecords.h"
#include "receiver.h"
#include "type4frame.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int kConnectionsInFlight = 8;
constexpr int kFramesInFlight = 64; // on the one connection
constexpr int kIdleConnections = 1000;
constexpr double kTargetPerSecond = 2000;

const QByteArray kReply = QByteArrayLiteral("ACK");

QByteArray standardFrame() {
    return frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), false);
}

// The receiver on its own thread.
class ReceiverThread {
public:
    ReceiverThread() {
        m_thread.start();
        m_home.moveToThread(&m_thread);
        onThread([this] {
            ReceiverOptions options;
            options.type4Port = 0;
            options.refuseType5 = true;
            options.heartbeatIntervalMs = 0;
            m_receiver = std::make_unique<Receiver>(options);
            m_sink = std::fopen("/dev/null", "w");
            QObject::connect(m_receiver.get(), &Receiver::lineReady, [this](const QString &line) {
                const QByteArray bytes = line.toLocal8Bit() + '\n';
                std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_sink);
                std::fflush(m_sink);
            });
            m_receiver->start();
            m_port = m_receiver->type4Port();
        });
    }

    ~ReceiverThread() {
        onThread([this] {
            m_receiver.reset();
            std::fclose(m_sink);
        });
        m_thread.quit();
        m_thread.wait();
    }

    quint16 port() const { return m_port; }

    ReceiverStats stats() {
        ReceiverStats stats;
        onThread([&] { stats = m_receiver->stats(); });
        return stats;
    }

private:
    template<typename F> void onThread(F f) {
        QMetaObject::invokeMethod(&m_home, f, Qt::BlockingQueuedConnection);
    }

    QThread m_thread;
    QObject m_home;
    std::unique_ptr<Receiver> m_receiver;
    FILE *m_sink = nullptr;
    quint16 m_port = 0;
};

// One frame on a connection of its own: connect, send, wait for the reply,
// close, as talvgen's link 1 does.
class FrameClient : public QObject {
    Q_OBJECT

public:
    FrameClient(quint16 port, QObject *parent)
        : QObject(parent) {
        connect(&m_socket, &QTcpSocket::connected, this,
                [this] { m_socket.write(standardFrame()); });
        connect(&m_socket, &QTcpSocket::readyRead, this, &FrameClient::readReply);
        connect(&m_socket, &QTcpSocket::disconnected, this, &FrameClient::finish);
        connect(&m_socket, &QTcpSocket::errorOccurred, this, &FrameClient::finish);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

signals:
    void done(bool answered);

private:
    void readReply() {
        m_received += m_socket.readAll();
        if (m_received.size() >= kReply.size())
            m_socket.disconnectFromHost();
    }

    void finish() {
        if (m_finished)
            return;
        m_finished = true;
        emit done(m_received.size() >= kReply.size());
        deleteLater();
    }

    QTcpSocket m_socket;
    QByteArray m_received;
    bool m_finished = false;
};

// Connections that never send anything, held on a thread of their own so
// that they burden the receiver and not the load client.
class IdleConnections {
public:
    IdleConnections(quint16 port, int count) {
        m_thread.start();
        m_home.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_home,
            [this, port, count] {
                for (int i = 0; i < count; ++i)
                    (new QTcpSocket(&m_home))->connectToHost(QHostAddress::LocalHost, port);
            },
            Qt::BlockingQueuedConnection);
    }

    ~IdleConnections() {
        QMetaObject::invokeMethod(
            &m_home, [this] { qDeleteAll(m_home.children()); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

private:
    QThread m_thread;
    QObject m_home;
};

// Keeps a number of FrameClients in flight, optionally beside idle
// connections that never send anything.
class ConnectionPerFrame : public QObject {
public:
    ConnectionPerFrame(quint16 port, int inFlight, int idle)
        : m_port(port) {
        if (idle > 0)
            m_idle = std::make_unique<IdleConnections>(port, idle);
        for (int i = 0; i < inFlight; ++i)
            next();
    }

    void stop() { m_running = false; }
    qint64 answered() const { return m_answered; }

private:
    void next() {
        if (!m_running)
            return;
        auto *client = new FrameClient(m_port, this);
        connect(client, &FrameClient::done, this, [this](bool answered) {
            m_answered += answered ? 1 : 0;
            next();
        });
    }

    quint16 m_port = 0;
    bool m_running = true;
    qint64 m_answered = 0;
    std::unique_ptr<IdleConnections> m_idle;
};

// Many frames on one connection, a window of them in flight.
class OneConnection : public QObject {
public:
    explicit OneConnection(quint16 port) {
        connect(&m_socket, &QTcpSocket::connected, this, [this] { send(kFramesInFlight); });
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            const qint64 replies = m_socket.readAll().size() / kReply.size();
            m_answered += replies;
            if (m_running)
                send(int(replies));
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    void stop() { m_running = false; }
    qint64 answered() const { return m_answered; }

private:
    void send(int frames) { m_socket.write(standardFrame().repeated(frames)); }

    QTcpSocket m_socket;
    bool m_running = true;
    qint64 m_answered = 0;
};

template<typename Load> void run(const char *name, int seconds, Load &&makeLoad) {
    ReceiverThread receiver;
    auto load = makeLoad(receiver.port());
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const qint64 answered = load->answered();
    const double rate = answered * 1000.0 / double(elapsed.elapsed());
    load->stop();
    const ReceiverStats stats = receiver.stats();
    std::printf("%-34s %8lld frames answered in %.2f s = %8.0f frames/s "
                "(receiver: %lld checked, %lld valid, peak buffer %lld bytes) %s\n",
                name, static_cast<long long>(answered), double(elapsed.elapsed()) / 1000, rate,
                static_cast<long long>(stats.frames), static_cast<long long>(stats.framesValid),
                static_cast<long long>(stats.peakBufferedBytes),
                rate >= kTargetPerSecond ? "ok" : "BELOW 2000/s");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("seconds"),
                                 QStringLiteral("Seconds per run (default 3)."),
                                 QStringLiteral("[seconds]"));
    parser.process(app);
    const QStringList given = parser.positionalArguments();
    const int seconds = given.isEmpty() ? 3 : qMax(1, given.constFirst().toInt());
    std::printf("receiver throughput, Standard frame of %lld bytes, %d s per run\n",
                static_cast<long long>(standardFrame().size()), seconds);
    // Figures only: the verdict is printed beside each run, never returned.
    run("one connection per frame (x8):", seconds, [](quint16 port) {
        return std::make_unique<ConnectionPerFrame>(port, kConnectionsInFlight, 0);
    });
    run("the same beside 1000 idle ones:", seconds, [](quint16 port) {
        return std::make_unique<ConnectionPerFrame>(port, kConnectionsInFlight, kIdleConnections);
    });
    run("one connection, many frames:", seconds,
        [](quint16 port) { return std::make_unique<OneConnection>(port); });
    return 0;
}

#include "receiver_throughput.moc"
