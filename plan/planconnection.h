// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exchangeoutcome.h"
#include "outgoingconnection.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>

#include <optional>

// One connection a plan talks over: link 1 opens one per frame, link 2 keeps
// one for the whole plan. It connects once, sends what it is given in the
// segments asked for, and gathers what comes back. On link 2 the receiver's
// heartbeats are taken out of what came and answered at once.
class PlanConnection : public QObject {
    Q_OBJECT
public:
    enum class State { Connecting, Open, Ended };
    // How the receiver's heartbeats are answered: at once, after heartbeatLateUs, never, or twice.
    enum class HeartbeatAnswer { AtOnce, Late, Never, Twice };
    // One write: its bytes, after a wait.
    struct Write {
        QByteArray bytes;
        qint64 delayUsBefore = 0;
    };

    PlanConnection(const QHostAddress &address, quint16 port, bool answersHeartbeats,
                   QObject *parent = nullptr);
    ~PlanConnection() override;

    // Queues bytes: the segments of split's sizes, then the rest, gapUs apart.
    // allSent() once the system has taken the last byte.
    void send(const QByteArray &bytes, const QList<int> &split, qint64 gapUs);
    // Queues writes, each after its own wait.
    void send(const QList<Write> &writes);
    // Once every byte is out, ends the sending side (a half-close): the receiver reads
    // the end of the stream and may still answer.
    void halfCloseWhenSent();
    // Resets the connection now (a linger time of zero), as a sender that fails midway
    // would; no signal follows.
    void reset();
    void setHeartbeatAnswer(HeartbeatAnswer answer, qint64 lateUs = 0);
    // Closes it now; no signal follows.
    void close();

    State state() const { return m_state; }
    bool sending() const { return !m_segments.isEmpty(); }
    // Why it ended: refused, reset, closed or an error; unset while it lasts
    // or when it was closed from this side.
    std::optional<Outcome> ending() const { return m_ending; }
    // The system's words for a connect that failed or an error.
    QString endingDetail() const { return m_endingDetail; }
    // Everything received that is not a heartbeat, less what was taken.
    const QByteArray &received() const { return m_received; }
    void take(qsizetype bytes) { m_received.remove(0, bytes); }
    qint64 heartbeatsAnswered() const { return m_heartbeatsAnswered; }

signals:
    void allSent();
    void arrived();
    void heartbeatAnswered();
    void ended();

private:
    void onConnectFinished();
    void sendSegments();
    void onReadable();
    void takeArrival(const char *data, qint64 size);
    void end(Outcome why, const QString &detail = {});

    OutgoingConnection m_connection;
    State m_state = State::Connecting;
    bool m_answersHeartbeats = false;
    void answerHeartbeat();

    QList<Write> m_segments; // the first is going out now
    qint64 m_segmentSent = 0;
    QTimer m_gap;
    bool m_halfCloseWhenSent = false;
    HeartbeatAnswer m_heartbeatAnswer = HeartbeatAnswer::AtOnce;
    qint64 m_heartbeatLateUs = 0;
    QByteArray m_received;
    QByteArray m_heldBack;         // a heartbeat's first bytes, until the rest comes
    QByteArray m_heartbeatAnswers; // still to go out
    qint64 m_heartbeatsAnswered = 0;
    std::optional<Outcome> m_ending;
    QString m_endingDetail;
};
