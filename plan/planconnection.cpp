// SPDX-License-Identifier: GPL-3.0-or-later
#include "planconnection.h"

#include "heartbeat.h"
#include "socketcontrol.h"

namespace {

constexpr qint64 kReadChunkBytes = 64 * 1024;

QList<QByteArray> segmentsOf(const QByteArray &bytes, const QList<int> &split) {
    QList<QByteArray> segments;
    qsizetype at = 0;
    for (const int size : split) {
        if (at >= bytes.size())
            break;
        segments << bytes.mid(at, size);
        at += size;
    }
    if (at < bytes.size() || segments.isEmpty())
        segments << bytes.mid(at);
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
    if (m_state == State::Ended)
        return;
    const bool idle = m_segments.isEmpty() && m_heartbeatAnswers.isEmpty();
    m_segments += segmentsOf(bytes, split);
    m_gapUs = gapUs;
    if (m_state == State::Open && idle)
        sendSegments();
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

// Heartbeat answers first, then as much of the current segment as the system
// takes; the next segment after the gap.
void PlanConnection::sendSegments() {
    if (m_state != State::Open)
        return;
    while (!m_heartbeatAnswers.isEmpty()) {
        qint64 sent = 0;
        const auto transfer =
            m_connection.send(m_heartbeatAnswers.constData(), m_heartbeatAnswers.size(), &sent);
        if (const std::optional<Outcome> why = m_connection.endingOf(transfer))
            return end(*why);
        if (sent == 0)
            break;
        m_heartbeatAnswers.remove(0, sent);
    }
    while (m_heartbeatAnswers.isEmpty() && !m_segments.isEmpty() && !m_gap.isActive()) {
        const QByteArray &segment = m_segments.constFirst();
        qint64 sent = 0;
        const auto transfer = m_connection.send(segment.constData() + m_segmentSent,
                                                segment.size() - m_segmentSent, &sent);
        if (const std::optional<Outcome> why = m_connection.endingOf(transfer))
            return end(*why);
        m_segmentSent += sent;
        if (m_segmentSent < segment.size())
            break;
        m_segments.removeFirst();
        m_segmentSent = 0;
        if (m_segments.isEmpty()) {
            emit allSent();
            if (m_state != State::Open)
                return;
        } else if (m_gapUs > 0) {
            m_gap.start(int((m_gapUs + 999) / 1000));
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
        m_heartbeatAnswers += heartbeatAnswerBytes();
        ++m_heartbeatsAnswered;
        sendSegments();
        emit heartbeatAnswered();
    }
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
