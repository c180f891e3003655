// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectionstream.h"
#include "precisetimer.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

class QTcpSocket;
struct ReceiverContext;

// One accepted connection: reads and checks what it carries, answers valid
// frames and documents, and sends heartbeats while it carries Type 5.
class ReceiverConnection : public QObject {
    Q_OBJECT

public:
    // portKind: what the listening port is meant for.
    ReceiverConnection(QTcpSocket *socket, StreamKind portKind, ReceiverContext &context,
                       QObject *parent = nullptr);

    StreamKind kind() const { return m_stream.kind(); }
    // A Type 5 stream, or nothing yet on the Type 5 port.
    bool carriesType5() const;
    qint64 lastActivityMs() const { return m_lastActivityMs; }
    bool heartbeatsRunning() const { return m_heartbeatTimer.isActive(); }
    bool awaitingHeartbeatAnswer() const { return m_awaitingAnswer; }

    // The receiver closes it: leftovers are reported, then why.
    void closeFor(const QString &why);
    // The receiver stops: close without a word.
    void abandon();

    // Timer handlers; tests call them to step time.
    void heartbeatTick();
    void heartbeatAnswerTimeout();
    void replyTimerTick();

signals:
    void ended(ReceiverConnection *connection);

private:
    void onReadyRead();
    void onDisconnected();
    void handle(const StreamEvent &event);
    void handleHeartbeatAnswer();
    void reportFinished();
    void queueReply();
    void resetConnection();
    void sendReply();
    void dropQueuedReplies();
    void updateHeartbeats();
    void report(const QString &text);
    void record(const QString &event, const QString &detail, bool ok, const QString &reason);
    QString side() const;
    QString peer() const;
    void end();
    void stopReplyTimer();

    QTcpSocket *m_socket = nullptr;
    StreamKind m_portKind = StreamKind::Type4;
    ReceiverContext &m_context;
    ConnectionStream m_stream;
    QString m_peerAddress;
    quint16 m_peerPort = 0;
    quint16 m_localPort = 0;
    qint64 m_lastActivityMs = 0;
    bool m_ended = false;

    std::unique_ptr<PreciseTimer> m_replyTimer; // made for the first delayed reply
    QList<qint64> m_replyDueNs;                 // on the monotonic clock

    QTimer m_heartbeatTimer;
    QTimer m_answerTimer;
    QElapsedTimer m_heartbeatSent;
    bool m_awaitingAnswer = false;
};
