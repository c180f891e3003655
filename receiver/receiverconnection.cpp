// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiverconnection.h"

#include "csvwriter.h"
#include "receivercontext.h"
#include "receiverlines.h"
#include "resetonclose.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

// Bounds what Qt reads ahead of us on one connection.
constexpr qint64 kSocketReadBufferBytes = 256 * 1024;

QString addressText(const QHostAddress &address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

bool breaksStream(StreamEvent::Kind kind) {
    return kind == StreamEvent::Kind::Garbage || kind == StreamEvent::Kind::FrameTooLong ||
           kind == StreamEvent::Kind::DocumentTooLong;
}

} // namespace

ReceiverConnection::ReceiverConnection(QTcpSocket *socket, StreamKind portKind,
                                       ReceiverContext &context, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_portKind(portKind)
    , m_context(context)
    , m_stream({context.options.maxFrameBodyChars, context.options.maxDocumentBytes})
    , m_peerAddress(addressText(socket->peerAddress()))
    , m_peerPort(socket->peerPort())
    , m_localPort(socket->localPort())
    , m_lastActivityMs(context.nowMs()) {
    m_socket->setParent(this);
    m_socket->setReadBufferSize(kSocketReadBufferBytes);
    m_answerTimer.setSingleShot(true);
    connect(&m_heartbeatTimer, &QTimer::timeout, this, &ReceiverConnection::heartbeatTick);
    connect(&m_answerTimer, &QTimer::timeout, this, &ReceiverConnection::heartbeatAnswerTimeout);
    connect(m_socket, &QTcpSocket::readyRead, this, &ReceiverConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &ReceiverConnection::onDisconnected);
    updateHeartbeats();
    // Bytes may have arrived with the connection.
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ReceiverConnection::onReadyRead, Qt::QueuedConnection);
}

void ReceiverConnection::closeFor(const QString &why) {
    if (m_ended)
        return;
    reportFinished();
    report(why);
    ++m_context.stats.connectionsDropped;
    end();
    m_socket->abort();
}

void ReceiverConnection::abandon() {
    m_ended = true;
    m_heartbeatTimer.stop();
    m_answerTimer.stop();
    stopReplyTimer();
    m_socket->disconnect(this);
    m_socket->abort();
}

void ReceiverConnection::onReadyRead() {
    if (m_ended)
        return;
    const QByteArray data = m_socket->readAll();
    if (data.isEmpty())
        return;
    m_lastActivityMs = m_context.nowMs();
    const StreamKind before = m_stream.kind();
    const QList<StreamEvent> events = m_stream.feed(data);
    ReceiverStats &stats = m_context.stats;
    stats.peakBufferedBytes = std::max(stats.peakBufferedBytes, m_stream.peakBufferedBytes());
    if (m_stream.kind() != before)
        updateHeartbeats();
    for (const StreamEvent &event : events)
        handle(event);
    if (m_stream.isBroken() && !m_ended) {
        ++stats.connectionsDropped;
        dropQueuedReplies();
        end();
        m_socket->abort();
    }
}

void ReceiverConnection::onDisconnected() {
    if (m_ended)
        return;
    // Whatever is still buffered in the socket belongs to the stream.
    const QByteArray rest = m_socket->readAll();
    if (!rest.isEmpty()) {
        for (const StreamEvent &event : m_stream.feed(rest))
            handle(event);
    }
    reportFinished();
    end();
}

void ReceiverConnection::reportFinished() {
    for (const StreamEvent &event : m_stream.finish())
        handle(event);
    dropQueuedReplies();
}

void ReceiverConnection::handle(const StreamEvent &event) {
    if (event.kind == StreamEvent::Kind::HeartbeatAnswer) {
        handleHeartbeatAnswer();
        return;
    }
    m_context.stats.count(event);
    QString text = describeEvent(event);
    if (breaksStream(event.kind))
        text += QStringLiteral(", connection dropped");
    report(text);
    record(eventName(event.kind), eventDetail(event), event.ok, event.reason);
    const bool complete =
        event.kind == StreamEvent::Kind::Frame || event.kind == StreamEvent::Kind::Document;
    if (complete && event.ok && m_context.options.resetConnections)
        resetConnection();
    else if (complete && event.ok && !m_context.options.noReply)
        queueReply();
}

void ReceiverConnection::resetConnection() {
    if (m_ended)
        return;
    report(QStringLiteral("connection reset instead of a reply"));
    setResetOnClose(m_socket->socketDescriptor());
    ++m_context.stats.connectionsDropped;
    dropQueuedReplies();
    end();
    m_socket->abort();
}

void ReceiverConnection::queueReply() {
    const int delayMs = m_context.options.delayMs;
    if (delayMs == 0) {
        sendReply();
        return;
    }
    // Due times to the nanosecond: a whole-millisecond clock would send a
    // reply up to a millisecond early or late.
    m_replyDueNs.append(m_context.nowNs() + qint64(delayMs) * 1'000'000);
    if (!m_replyTimer) {
        m_replyTimer = std::make_unique<PreciseTimer>();
        connect(m_replyTimer.get(), &PreciseTimer::timeout, this,
                &ReceiverConnection::replyTimerTick);
    }
    if (!m_replyTimer->isActive())
        m_replyTimer->start(qint64(delayMs) * 1'000'000);
}

// Replies go out in the order their frames came, each once its delay is up.
void ReceiverConnection::replyTimerTick() {
    const qint64 now = m_context.nowNs();
    while (!m_replyDueNs.isEmpty() && m_replyDueNs.constFirst() <= now && !m_ended) {
        m_replyDueNs.removeFirst();
        sendReply();
    }
    if (!m_replyDueNs.isEmpty() && !m_ended)
        m_replyTimer->start(m_replyDueNs.constFirst() - now);
}

void ReceiverConnection::sendReply() {
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        ++m_context.stats.repliesDropped;
        return;
    }
    m_socket->write(m_context.options.reply);
    ++m_context.stats.repliesSent;
    if (m_context.options.closeAfterReply && m_stream.kind() == StreamKind::Type4)
        m_socket->disconnectFromHost();
}

void ReceiverConnection::dropQueuedReplies() {
    if (m_replyDueNs.isEmpty())
        return;
    const qsizetype dropped = m_replyDueNs.size();
    m_context.stats.repliesDropped += dropped;
    m_replyDueNs.clear();
    stopReplyTimer();
    const QString what =
        dropped == 1 ? QStringLiteral("reply") : QStringLiteral("%1 replies").arg(dropped);
    report(QStringLiteral("%1 not sent, the connection closed before the delay ended").arg(what));
}

bool ReceiverConnection::carriesType5() const {
    const StreamKind kind = m_stream.kind();
    return kind == StreamKind::Type5 ||
           (kind == StreamKind::Undecided && m_portKind == StreamKind::Type5);
}

void ReceiverConnection::updateHeartbeats() {
    const bool wanted = m_context.options.heartbeatIntervalMs > 0 && carriesType5();
    if (wanted && !m_heartbeatTimer.isActive()) {
        m_heartbeatTimer.start(m_context.options.heartbeatIntervalMs);
    } else if (!wanted) {
        // A frame stream owes no answer to a heartbeat sent before it spoke.
        m_heartbeatTimer.stop();
        m_answerTimer.stop();
        m_awaitingAnswer = false;
    }
}

void ReceiverConnection::heartbeatTick() {
    if (m_ended || m_awaitingAnswer || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_socket->write(heartbeatBytes());
    ++m_context.stats.heartbeatsSent;
    m_awaitingAnswer = true;
    m_heartbeatSent.start();
    m_answerTimer.start(m_context.options.heartbeatAnswerTimeoutMs);
}

void ReceiverConnection::handleHeartbeatAnswer() {
    if (!m_awaitingAnswer) {
        ++m_context.stats.heartbeatAnswersUnasked;
        const QString why = QStringLiteral("answer without a heartbeat");
        report(QStringLiteral("heartbeat %1").arg(why));
        record(QStringLiteral("heartbeat"), QStringLiteral("answer"), false, why);
        return;
    }
    m_awaitingAnswer = false;
    m_answerTimer.stop();
    ++m_context.stats.heartbeatsAnswered;
    const qint64 ms = m_heartbeatSent.elapsed();
    report(heartbeatAnsweredText(ms));
    record(QStringLiteral("heartbeat"), QStringLiteral("answered in %1 ms").arg(ms), true,
           QString());
}

void ReceiverConnection::heartbeatAnswerTimeout() {
    if (!m_awaitingAnswer)
        return;
    m_awaitingAnswer = false;
    ++m_context.stats.heartbeatsNotAnswered;
    const int timeoutMs = m_context.options.heartbeatAnswerTimeoutMs;
    report(heartbeatNotAnsweredText(timeoutMs));
    record(QStringLiteral("heartbeat"), QStringLiteral("sent"), false,
           QStringLiteral("not answered within %1").arg(durationText(timeoutMs)));
}

QString ReceiverConnection::side() const {
    const StreamKind kind = m_stream.kind();
    return sideText(kind == StreamKind::Undecided ? m_portKind : kind);
}

QString ReceiverConnection::peer() const {
    return peerText(m_peerAddress, m_peerPort, m_stream.kind(), m_portKind, m_localPort);
}

void ReceiverConnection::report(const QString &text) {
    if (m_context.emitLine)
        m_context.emitLine(receiverLine(m_context.clock(), side(), peer(), text));
}

void ReceiverConnection::record(const QString &event, const QString &detail, bool ok,
                                const QString &reason) {
    if (m_context.emitRecord)
        m_context.emitRecord({isoTimeWithOffset(m_context.clock()), side(), peer(), event, detail,
                              ok ? QStringLiteral("OK") : QStringLiteral("INVALID"), reason});
}

void ReceiverConnection::stopReplyTimer() {
    if (m_replyTimer)
        m_replyTimer->stop();
}

void ReceiverConnection::end() {
    if (m_ended)
        return;
    m_ended = true;
    m_heartbeatTimer.stop();
    m_answerTimer.stop();
    stopReplyTimer();
    emit ended(this);
}
