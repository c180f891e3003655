// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver.h"

#include "receiverconnection.h"
#include "receiverlines.h"

#include <QMetaMethod>
#include <QTcpServer>

#include <algorithm>

namespace {

// Hands each connection on as its bare descriptor: a ReceiverConnection
// moves its bytes itself.
class DescriptorServer : public QTcpServer {
public:
    DescriptorServer(std::function<void(qintptr)> accepted, QObject *parent)
        : QTcpServer(parent)
        , m_accepted(std::move(accepted)) {}

protected:
    void incomingConnection(qintptr descriptor) override { m_accepted(descriptor); }

private:
    std::function<void(qintptr)> m_accepted;
};

QString sideName(StreamKind kind) {
    return kind == StreamKind::Type5 ? QStringLiteral("Type 5") : QStringLiteral("Type 4");
}

} // namespace

Receiver::Receiver(const ReceiverOptions &options, QObject *parent)
    : QObject(parent) {
    m_context.options = options;
    m_context.monotonic.start();
    connect(&m_sweepTimer, &QTimer::timeout, this, &Receiver::sweepIdleConnections);
}

Receiver::~Receiver() {
    stop();
    // Connections refer to m_context: they go before it does.
    qDeleteAll(findChildren<ReceiverConnection *>(Qt::FindDirectChildrenOnly));
}

void Receiver::connectNotify(const QMetaMethod &) {
    wireOutputs();
}

void Receiver::disconnectNotify(const QMetaMethod &) {
    wireOutputs();
}

// Lines and records are made only while someone takes them: a quiet run
// spends nothing on the text of each frame.
void Receiver::wireOutputs() {
    m_context.emitLine = nullptr;
    m_context.emitRecord = nullptr;
    if (isSignalConnected(QMetaMethod::fromSignal(&Receiver::lineReady)))
        m_context.emitLine = [this](const QString &line) {
            emit lineReady(line);
        };
    if (isSignalConnected(QMetaMethod::fromSignal(&Receiver::recordReady)))
        m_context.emitRecord = [this](const QStringList &fields) {
            emit recordReady(fields);
        };
}

bool Receiver::start(QString *error) {
    const ReceiverOptions &options = m_context.options;
    if (!options.refuseType4) {
        m_type4Server = listenOn(options.type4Port, StreamKind::Type4, error);
        if (!m_type4Server)
            return false;
    }
    if (!options.refuseType5) {
        m_type5Server = listenOn(options.type5Port, StreamKind::Type5, error);
        if (!m_type5Server) {
            stop();
            return false;
        }
    }
    m_sweepTimer.start(options.idleSweepIntervalMs);
    return true;
}

QTcpServer *Receiver::listenOn(quint16 port, StreamKind kind, QString *error) {
    auto *server =
        new DescriptorServer([this, kind](qintptr descriptor) { accept(descriptor, kind); }, this);
    if (!server->listen(m_context.options.listenAddress, port)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1 port %2 for %3: %4")
                         .arg(m_context.options.listenAddress.toString())
                         .arg(port)
                         .arg(sideName(kind), server->errorString());
        delete server;
        return nullptr;
    }
    return server;
}

void Receiver::stop() {
    m_sweepTimer.stop();
    delete m_type4Server;
    delete m_type5Server;
    m_type4Server = nullptr;
    m_type5Server = nullptr;
    deleteEndedConnections();
    const QList<ReceiverConnection *> connections = std::exchange(m_connections, {});
    for (ReceiverConnection *connection : connections) {
        connection->abandon();
        connection->deleteLater();
    }
}

quint16 Receiver::type4Port() const {
    return m_type4Server ? m_type4Server->serverPort() : 0;
}

quint16 Receiver::type5Port() const {
    return m_type5Server ? m_type5Server->serverPort() : 0;
}

void Receiver::setClock(std::function<QDateTime()> clock) {
    m_context.clock = std::move(clock);
}

void Receiver::accept(qintptr descriptor, StreamKind kind) {
    deleteEndedConnections();
    makeRoom();
    ++m_context.stats.connections;
    auto *connection = new ReceiverConnection(descriptor, kind, m_context, this);
    connect(connection, &ReceiverConnection::ended, this, &Receiver::connectionEnded);
    m_connections.append(connection);
}

// At the limit the connection idle longest gives way, so that idle or
// half-open peers cannot lock out a working one.
void Receiver::makeRoom() {
    if (m_connections.size() < m_context.options.maxConnections || m_connections.isEmpty())
        return;
    const auto oldest = std::min_element(
        m_connections.cbegin(), m_connections.cend(),
        [](const auto *a, const auto *b) { return a->lastActivityMs() < b->lastActivityMs(); });
    (*oldest)->closeFor(QStringLiteral("connection closed, the limit of %1 connections is reached")
                            .arg(m_context.options.maxConnections));
}

void Receiver::sweepIdleConnections() {
    deleteEndedConnections();
    const qint64 now = m_context.nowMs();
    const ReceiverOptions &options = m_context.options;
    const QList<ReceiverConnection *> connections = m_connections;
    for (ReceiverConnection *connection : connections) {
        const int limitMs =
            connection->carriesType5() ? options.type5IdleTimeoutMs : options.type4IdleTimeoutMs;
        if (now - connection->lastActivityMs() >= limitMs)
            connection->closeFor(
                QStringLiteral("connection closed after %1 idle").arg(durationText(limitMs)));
    }
}

// Deleted at the next accept or sweep, never inside its own call: a
// deleteLater() would wake the loop once more for every connection.
void Receiver::connectionEnded(ReceiverConnection *connection) {
    m_connections.removeOne(connection);
    m_endedConnections.append(connection);
}

void Receiver::deleteEndedConnections() {
    qDeleteAll(std::exchange(m_endedConnections, {}));
}
