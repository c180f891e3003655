// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiverconnection.h"

#include "csvwriter.h"
#include "receivercontext.h"
#include "receiverlines.h"
#include "resetonclose.h"

#include <QHostAddress>

namespace {

// As much as a read takes, the most Qt's buffer held of a connection.
constexpr qint64 kReadChunkBytes = 256 * 1024;

// Every connection reads into this one: they read one at a time, on one thread.
char *readBuffer() {
    static QByteArray buffer(kReadChunkBytes, Qt::Uninitialized);
    return buffer.data();
}

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

ReceiverConnection::ReceiverConnection(qintptr descriptor, StreamKind portKind,
                                       ReceiverContext &context, QObject *parent)
    : QObject(parent)
    , m_portKind(portKind)
    , m_context(context)
    , m_stream({context.options.maxFrameBodyChars, context.options.maxDocumentBytes})
    , m_lastActivityMs(context.nowMs()) {
    connect(&m_connection, &OutgoingConnection::readable, this, &ReceiverConnection::onReadable);
    connect(&m_connection, &OutgoingConnection::writable, this, &ReceiverConnection::sendWritten);
    // One the system will not take is closed, and left to the idle sweep.
    if (m_connection.adopt(descriptor)) {
        if (m_context.emitLine || m_context.emitRecord)
            learnAddresses();
        m_connection.watch(true, false);
    }
    updateHeartbeats();
}

void ReceiverConnection::learnAddresses() {
    if (m_knowsAddresses || m_connection.descriptor() == -1)
        return;
    m_knowsAddresses = true;
    m_peerAddress = addressText(m_connection.peerAddress(&m_peerPort));
    m_localPort = m_connection.localPort();
}

void ReceiverConnection::closeFor(const QString &why) {
    if (m_ended)
        return;
    reportFinished();
    report(why);
    ++m_context.stats.connectionsDropped;
    end();
    abort();
}

void ReceiverConnection::abandon() {
    m_ended = true;
    stopHeartbeats();
    stopReplyTimer();
    abort();
}

void ReceiverConnection::abort() {
    m_unsent.clear();
    m_connection.cancel();
}

bool ReceiverConnection::isConnected() const {
    return m_connection.descriptor() != -1 && !m_closing;
}

void ReceiverConnection::onReadable() {
    if (m_ended)
        return;
    qint64 got = 0;
    switch (m_connection.receive(readBuffer(), kReadChunkBytes, &got)) {
    case OutgoingConnection::Transfer::Moved:
        take(QByteArrayView(readBuffer(), got));
        break;
    case OutgoingConnection::Transfer::WouldBlock:
        break;
    case OutgoingConnection::Transfer::Ended:
    case OutgoingConnection::Transfer::Failed:
        // Over once what was written has gone, as for a QTcpSocket.
        closeAfterWriting();
        sendWritten();
        break;
    }
}

void ReceiverConnection::take(QByteArrayView data) {
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
        abort();
    }
    sendWritten();
}

void ReceiverConnection::sendWritten() {
    if (m_ended || m_connection.descriptor() == -1)
        return;
    if (!m_unsent.isEmpty()) {
        qint64 sent = 0;
        const OutgoingConnection::Transfer transfer =
            m_connection.send(m_unsent.constData(), m_unsent.size(), &sent);
        if (transfer == OutgoingConnection::Transfer::Ended ||
            transfer == OutgoingConnection::Transfer::Failed) {
            onDisconnected();
            return;
        }
        m_unsent.remove(0, sent);
    }
    if (m_unsent.isEmpty() && m_closing) {
        onDisconnected();
        return;
    }
    m_connection.watch(!m_closing, !m_unsent.isEmpty());
}

// Reads nothing more; closes once what was written has gone.
void ReceiverConnection::closeAfterWriting() {
    m_closing = true;
}

void ReceiverConnection::onDisconnected() {
    if (m_ended)
        return;
    reportFinished();
    end();
    abort();
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
    if (m_context.emitLine) {
        QString text = describeEvent(event);
        if (breaksStream(event.kind))
            text += QStringLiteral(", connection dropped");
        report(text);
    }
    if (m_context.emitRecord)
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
    setResetOnClose(m_connection.descriptor());
    ++m_context.stats.connectionsDropped;
    dropQueuedReplies();
    end();
    abort();
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
    sendWritten();
}

void ReceiverConnection::sendReply() {
    if (!isConnected()) {
        ++m_context.stats.repliesDropped;
        return;
    }
    write(m_context.options.reply);
    ++m_context.stats.repliesSent;
    if (m_context.options.closeAfterReply && m_stream.kind() == StreamKind::Type4)
        closeAfterWriting();
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
    if (wanted && !heartbeatsRunning()) {
        heartbeats().tick.start(m_context.options.heartbeatIntervalMs);
    } else if (!wanted) {
        // A frame stream owes no answer to a heartbeat sent before it spoke.
        stopHeartbeats();
        m_awaitingAnswer = false;
    }
}

ReceiverConnection::HeartbeatTimers &ReceiverConnection::heartbeats() {
    if (!m_heartbeats) {
        m_heartbeats = std::make_unique<HeartbeatTimers>();
        m_heartbeats->answer.setSingleShot(true);
        connect(&m_heartbeats->tick, &QTimer::timeout, this, &ReceiverConnection::heartbeatTick);
        connect(&m_heartbeats->answer, &QTimer::timeout, this,
                &ReceiverConnection::heartbeatAnswerTimeout);
    }
    return *m_heartbeats;
}

void ReceiverConnection::stopHeartbeats() {
    if (!m_heartbeats)
        return;
    m_heartbeats->tick.stop();
    m_heartbeats->answer.stop();
}

void ReceiverConnection::heartbeatTick() {
    if (m_ended || m_awaitingAnswer || !isConnected())
        return;
    write(heartbeatBytes());
    ++m_context.stats.heartbeatsSent;
    m_awaitingAnswer = true;
    m_heartbeatSent.start();
    heartbeats().answer.start(m_context.options.heartbeatAnswerTimeoutMs);
    sendWritten();
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
    heartbeats().answer.stop();
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

QString ReceiverConnection::peer() {
    learnAddresses();
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
    stopHeartbeats();
    stopReplyTimer();
    emit ended(this);
}
