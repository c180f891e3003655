// SPDX-License-Identifier: GPL-3.0-or-later
#include "planconnection.h"

#include "heartbeat.h"
#include "resetonclose.h"
#include "socketcontrol.h"

namespace {

constexpr qint64 kReadChunkBytes = 64 * 1024;

QList<PlanConnection::Write> segmentsOf(const QByteArray &bytes, const QList<int> &split,
                                        qint64 gapUs) {
    QList<PlanConnection::Write> segments;
    qsizetype at = 0;
    for (const int size : split) {
        if (at >= bytes.size())
            break;
        segments.append({bytes.mid(at, size), segments.isEmpty() ? 0 : gapUs});
        at += size;
    }
    if (at < bytes.size() || segments.isEmpty())
        segments.append({bytes.mid(at), segments.isEmpty() ? 0 : gapUs});
    return segments;
}

} // namespace

PlanConnection::PlanConnection(const QHostAddress &address, quint16 port, bool answersHeartbeats,
                               QObject *parent)
    : QObject(parent)
    , m_answersHeartbeats(answersHeartbeats) {
    m_gap.setSingleShot(true);
    m_gap.setTimerType(Qt::PreciseTimer);
    connect(&m_gap, &QTimer::timeout, this, &PlanConnection::sendSegments);
    connect(&m_connection, &OutgoingConnection::finished, this, &PlanConnection::onConnectFinished);
    connect(&m_connection, &OutgoingConnection::writable, this, &PlanConnection::sendSegments);
    connect(&m_connection, &OutgoingConnection::readable, this, &PlanConnection::onReadable);
    if (!m_connection.start(address, port)) {
        // Told on the next turn, as a connect that failed later would be.
        const int error = m_connection.error();
        QTimer::singleShot(0, this, [this, error] {
            end(outcomeOfConnectError(error),
                SocketControl::failureOfSystemError(error).description);
        });
    }
}

PlanConnection::~PlanConnection() {
    m_connection.cancel();
}

void PlanConnection::send(const QByteArray &bytes, const QList<int> &split, qint64 gapUs) {
    send(segmentsOf(bytes, split, gapUs));
}

void PlanConnection::send(const QList<Write> &writes) {
    if (m_state == State::Ended)
        return;
    const bool idle = m_segments.isEmpty() && m_heartbeatAnswers.isEmpty() && !m_gap.isActive();
    m_segments += writes;
    if (m_state == State::Open && idle)
        sendSegments();
}

void PlanConnection::halfCloseWhenSent() {
    m_halfCloseWhenSent = true;
    if (m_state == State::Open && m_segments.isEmpty())
        OutgoingConnection::shutdownSending(m_connection.descriptor());
}

void PlanConnection::reset() {
    if (m_connection.descriptor() != -1)
        setResetOnClose(m_connection.descriptor());
    close();
}

void PlanConnection::setHeartbeatAnswer(HeartbeatAnswer answer, qint64 lateUs) {
    m_heartbeatAnswer = answer;
    m_heartbeatLateUs = lateUs;
}

void PlanConnection::close() {
    m_gap.stop();
    m_connection.cancel();
    m_segments.clear();
    if (m_state != State::Ended)
        m_state = State::Ended;
}

void PlanConnection::onConnectFinished() {
    if (const int error = m_connection.error()) {
        end(outcomeOfConnectError(error), SocketControl::failureOfSystemError(error).description);
        return;
    }
    m_state = State::Open;
    sendSegments();
}

// Heartbeat answers first, between segments only, then as much of the current
// segment as the system takes; the next segment after its wait.
void PlanConnection::sendSegments() {
    if (m_state != State::Open)
        return;
    while (!m_heartbeatAnswers.isEmpty() && m_segmentSent == 0) {
        qint64 sent = 0;
        const auto transfer =
            m_connection.send(m_heartbeatAnswers.constData(), m_heartbeatAnswers.size(), &sent);
        if (const std::optional<Outcome> why = m_connection.endingOf(transfer))
            return end(*why);
        if (sent == 0)
            break;
        m_heartbeatAnswers.remove(0, sent);
    }
    while ((m_heartbeatAnswers.isEmpty() || m_segmentSent > 0) && !m_segments.isEmpty() &&
           !m_gap.isActive()) {
        const qint64 waitUs = m_segments.constFirst().delayUsBefore;
        if (waitUs > 0 && m_segmentSent == 0) {
            m_segments.first().delayUsBefore = 0;
            m_gap.start(int((waitUs + 999) / 1000));
            break;
        }
        const QByteArray &segment = m_segments.constFirst().bytes;
        qint64 sent = 0;
        if (!segment.isEmpty()) {
            const auto transfer = m_connection.send(segment.constData() + m_segmentSent,
                                                    segment.size() - m_segmentSent, &sent);
            if (const std::optional<Outcome> why = m_connection.endingOf(transfer))
                return end(*why);
        }
        m_segmentSent += sent;
        if (m_segmentSent < segment.size())
            break;
        m_segments.removeFirst();
        m_segmentSent = 0;
        if (m_segments.isEmpty()) {
            if (m_halfCloseWhenSent)
                OutgoingConnection::shutdownSending(m_connection.descriptor());
            emit allSent();
            if (m_state != State::Open)
                return;
        }
    }
    const bool pending =
        !m_heartbeatAnswers.isEmpty() || (!m_segments.isEmpty() && !m_gap.isActive());
    m_connection.watch(true, pending);
}

void PlanConnection::onReadable() {
    if (m_state != State::Open)
        return;
    // A reset already known wins over data waiting, as for a QTcpSocket read.
    if (m_connection.takePendingReset())
        return end(Outcome::Reset);
    char data[kReadChunkBytes];
    qint64 got = 0;
    const auto transfer = m_connection.receive(data, sizeof data, &got);
    if (const std::optional<Outcome> why = m_connection.endingOf(transfer))
        return end(*why);
    if (got > 0)
        takeArrival(data, got);
}

// Heartbeats come out wherever they fall, also split between arrivals; a
// document's answer holds no STX, so nothing else is taken for one.
void PlanConnection::takeArrival(const char *data, qint64 size) {
    QByteArray bytes = m_heldBack + QByteArray(data, size);
    m_heldBack.clear();
    int heartbeats = 0;
    if (m_answersHeartbeats) {
        const QByteArray heartbeat = heartbeatBytes();
        for (qsizetype at = bytes.indexOf(heartbeat); at >= 0; at = bytes.indexOf(heartbeat, at)) {
            bytes.remove(at, heartbeat.size());
            ++heartbeats;
        }
        for (qsizetype keep = heartbeat.size() - 1; keep > 0; --keep) {
            if (bytes.endsWith(heartbeat.first(keep))) {
                m_heldBack = bytes.right(keep);
                bytes.chop(keep);
                break;
            }
        }
    }
    m_received += bytes;
    if (!bytes.isEmpty())
        emit arrived();
    for (int i = 0; i < heartbeats && m_state == State::Open; ++i) {
        switch (m_heartbeatAnswer) {
        case HeartbeatAnswer::AtOnce:
            answerHeartbeat();
            break;
        case HeartbeatAnswer::Twice:
            answerHeartbeat();
            answerHeartbeat();
            break;
        case HeartbeatAnswer::Late:
            QTimer::singleShot(int(m_heartbeatLateUs / 1000), this, [this] {
                if (m_state == State::Open)
                    answerHeartbeat();
            });
            break;
        case HeartbeatAnswer::Never:
            break;
        }
    }
}

void PlanConnection::answerHeartbeat() {
    m_heartbeatAnswers += heartbeatAnswerBytes();
    ++m_heartbeatsAnswered;
    sendSegments();
    emit heartbeatAnswered();
}

void PlanConnection::end(Outcome why, const QString &detail) {
    if (m_state == State::Ended)
        return;
    m_state = State::Ended;
    m_ending = why;
    m_endingDetail = detail;
    m_gap.stop();
    m_segments.clear();
    m_connection.cancel();
    emit ended();
}
