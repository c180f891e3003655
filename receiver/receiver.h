// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receivercontext.h"
#include "receiveroptions.h"
#include "receiverstats.h"

#include <QList>
#include <QObject>
#include <QTimer>

class QTcpServer;
class ReceiverConnection;

// The reference receiver: listens on the Type 4 and Type 5 ports, checks
// every frame and document that arrives, answers the valid ones, sends
// heartbeats on Type 5 connections, and reports each of these as one line.
// A peer can make it hold only bounded memory: buffers, connection count
// and idle time are capped.
class Receiver : public QObject {
    Q_OBJECT

public:
    explicit Receiver(const ReceiverOptions &options, QObject *parent = nullptr);
    ~Receiver() override;

    // Listens on the ports not refused; false with the reason when a port
    // cannot be had.
    bool start(QString *error = nullptr);
    // Closes the ports and every connection; nothing more is reported.
    void stop();

    // The ports actually listened on (useful with port 0); 0 when refused.
    quint16 type4Port() const;
    quint16 type5Port() const;

    const ReceiverOptions &options() const { return m_context.options; }
    const ReceiverStats &stats() const { return m_context.stats; }
    const QList<ReceiverConnection *> &connections() const { return m_connections; }
    void setClock(std::function<QDateTime()> clock);

    // Closes connections idle past their limit; runs every second.
    void sweepIdleConnections();

signals:
    void lineReady(const QString &line);
    // time, side, peer, event, detail, verdict, reason
    void recordReady(const QStringList &fields);

protected:
    void connectNotify(const QMetaMethod &signal) override;
    void disconnectNotify(const QMetaMethod &signal) override;

private:
    void wireOutputs();
    QTcpServer *listenOn(quint16 port, StreamKind kind, QString *error);
    void accept(qintptr descriptor, StreamKind kind);
    void makeRoom();
    void connectionEnded(ReceiverConnection *connection);
    void deleteEndedConnections();

    ReceiverContext m_context;
    QTcpServer *m_type4Server = nullptr;
    QTcpServer *m_type5Server = nullptr;
    QList<ReceiverConnection *> m_connections;
    QList<ReceiverConnection *> m_endedConnections;
    QTimer m_sweepTimer;
};
