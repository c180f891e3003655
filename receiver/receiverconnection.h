// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectionstream.h"
#include "outgoingconnection.h"
#include "precisetimer.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

struct ReceiverContext;

// One accepted connection: reads and checks what it carries, answers valid
// frames and documents, and sends heartbeats while it carries Type 5. Its
// bytes move on the descriptor itself, with no QTcpSocket: one for each
// connection would cost six system calls and a 16 KiB and a 32 KiB buffer.
class ReceiverConnection : public QObject {
    Q_OBJECT

public:
    // descriptor: as accepted; portKind: what the listening port is meant for.
    ReceiverConnection(qintptr descriptor, StreamKind portKind, ReceiverContext &context,
                       QObject *parent = nullptr);

    StreamKind kind() const { return m_stream.kind(); }
    // A Type 5 stream, or nothing yet on the Type 5 port.
    bool carriesType5() const;
    qint64 lastActivityMs() const { return m_lastActivityMs; }
    bool heartbeatsRunning() const { return m_heartbeats && m_heartbeats->tick.isActive(); }
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
    void onReadable();
    void take(QByteArrayView data);
    // The connection is over: what is left is reported, and it ends.
    void onDisconnected();
    void handle(const StreamEvent &event);
    void handleHeartbeatAnswer();
    void reportFinished();
    void queueReply();
    void resetConnection();
    void sendReply();
    bool isConnected() const;
    // Bytes go out once what came has been handled, rather than at once.
    void write(const QByteArray &bytes) { m_unsent += bytes; }
    // What was written goes out, and the connection closes if asked to.
    void sendWritten();
    void closeAfterWriting();
    // Closes at once; what was written and not sent is dropped.
    void abort();
    void learnAddresses();
    void dropQueuedReplies();
    void updateHeartbeats();
    struct HeartbeatTimers;
    HeartbeatTimers &heartbeats();
    void stopHeartbeats();
    void report(const QString &text);
    void record(const QString &event, const QString &detail, bool ok, const QString &reason);
    QString side() const;
    QString peer();
    void end();
    void stopReplyTimer();

    OutgoingConnection m_connection;
    QByteArray m_unsent;
    bool m_closing = false; // closes once m_unsent is out; reads nothing more
    StreamKind m_portKind = StreamKind::Type4;
    ReceiverContext &m_context;
    ConnectionStream m_stream;
    // Asked of the system only for lines and records.
    bool m_knowsAddresses = false;
    QString m_peerAddress;
    quint16 m_peerPort = 0;
    quint16 m_localPort = 0;
    qint64 m_lastActivityMs = 0;
    bool m_ended = false;

    std::unique_ptr<PreciseTimer> m_replyTimer; // made for the first delayed reply
    QList<qint64> m_replyDueNs;                 // on the monotonic clock

    // Made once the connection carries Type 5: most never do.
    struct HeartbeatTimers {
        QTimer tick;
        QTimer answer;
    };
    std::unique_ptr<HeartbeatTimers> m_heartbeats;
    QElapsedTimer m_heartbeatSent;
    bool m_awaitingAnswer = false;
};
