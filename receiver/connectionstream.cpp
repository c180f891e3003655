// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectionstream.h"

#include "amllayout.h"
#include "recordfields.h"

#include <algorithm>

namespace {

const QByteArrayView kDocumentEnd(kAmlDocumentEnd);

StreamEvent frameEvent(const Type4Frame &frame, qsizetype bytes) {
    const Type4Check check = checkType4Body(frame.body);
    StreamEvent event;
    event.kind = StreamEvent::Kind::Frame;
    event.ok = check.ok;
    event.reason = check.reason;
    event.frame = frame;
    event.ipndFields = check.ipndFields;
    event.moliFields = check.moliFields;
    event.bytes = bytes;
    return event;
}

StreamEvent documentEvent(const QByteArray &document) {
    const AmlCheck check = checkAmlDocument(document);
    StreamEvent event;
    event.kind = StreamEvent::Kind::Document;
    event.ok = check.ok;
    event.reason = check.reason;
    event.lines = int(document.count('\n')) + 1;
    event.bytes = document.size();
    return event;
}

StreamEvent invalid(StreamEvent::Kind kind, qsizetype bytes, const QString &reason) {
    StreamEvent event;
    event.kind = kind;
    event.bytes = bytes;
    event.reason = reason;
    return event;
}

} // namespace

QList<StreamEvent> ConnectionStream::feed(QByteArrayView data) {
    QList<StreamEvent> events;
    if (m_broken)
        return events;
    qsizetype newFrom = m_buffer.size();
    m_buffer.append(data);
    m_peakBuffered = std::max(m_peakBuffered, m_buffer.size());
    if (m_kind == StreamKind::Undecided) {
        decideKind(events);
        newFrom = 0;
    }
    if (m_kind == StreamKind::Type4)
        takeFrames(events);
    else if (m_kind == StreamKind::Type5)
        takeDocuments(newFrom, events);
    return events;
}

QList<StreamEvent> ConnectionStream::finish() {
    QList<StreamEvent> events;
    if (m_broken || m_buffer.isEmpty())
        return events;
    if (m_kind == StreamKind::Type4) {
        StreamEvent event = invalid(StreamEvent::Kind::IncompleteFrame, m_buffer.size(),
                                    checkType4Frame(m_buffer).reason);
        qsizetype consumed = 0;
        Type4Frame::parse(m_buffer, consumed, event.frame);
        events.append(event);
    } else if (m_kind == StreamKind::Type5) {
        events.append(invalid(
            StreamEvent::Kind::IncompleteDocument, m_buffer.size(),
            QStringLiteral("connection ended before %1").arg(QLatin1StringView(kAmlDocumentEnd))));
    }
    // An undecided stream holds at most a piece of a heartbeat answer.
    m_buffer.clear();
    return events;
}

// Heartbeat answers may come before the first frame or document; what
// follows them decides the kind.
void ConnectionStream::decideKind(QList<StreamEvent> &events) {
    const QByteArray answer = heartbeatAnswerBytes();
    while (!m_buffer.isEmpty()) {
        if (m_buffer.startsWith(answer)) {
            events.append(invalid(StreamEvent::Kind::HeartbeatAnswer, answer.size(), {}));
            m_buffer.remove(0, answer.size());
            continue;
        }
        if (answer.startsWith(m_buffer))
            return; // a piece of an answer: wait for the rest
        m_kind = m_buffer.front() == '<' ? StreamKind::Type5 : StreamKind::Type4;
        return;
    }
}

void ConnectionStream::takeFrames(QList<StreamEvent> &events) {
    qsizetype pos = 0;
    while (pos < m_buffer.size() && !m_broken) {
        Type4Frame frame;
        qsizetype consumed = 0;
        QString reason;
        const QByteArrayView rest = QByteArrayView(m_buffer).sliced(pos);
        const Type4Frame::ParseResult result = Type4Frame::parse(rest, consumed, frame, &reason);
        if (result == Type4Frame::ParseResult::Garbage) {
            breakWith(invalid(StreamEvent::Kind::Garbage, rest.size(), reason), events);
        } else if (frame.length > m_limits.maxFrameBodyChars) {
            StreamEvent event = invalid(StreamEvent::Kind::FrameTooLong, rest.size(),
                                        QStringLiteral("frame too long, the limit is %1 characters")
                                            .arg(m_limits.maxFrameBodyChars));
            event.frame = frame;
            breakWith(event, events);
        } else if (result == Type4Frame::ParseResult::NeedMore) {
            break;
        } else {
            events.append(frameEvent(frame, consumed));
            pos += consumed;
        }
    }
    if (!m_broken)
        m_buffer.remove(0, pos);
}

void ConnectionStream::takeDocuments(qsizetype newFrom, QList<StreamEvent> &events) {
    // Only the new bytes, and the two before them, can complete an answer;
    // only they and the end tag's length before them can complete a document.
    const qsizetype answerFrom = std::max<qsizetype>(0, newFrom - 2);
    stripHeartbeatAnswers(answerFrom, events);
    const qsizetype endFrom = std::max<qsizetype>(0, answerFrom - kDocumentEnd.size());
    if (m_buffer.indexOf(kDocumentEnd, endFrom) >= 0) {
        for (const QByteArray &document : takeCompleteDocuments(m_buffer))
            events.append(documentEvent(document));
    }
    if (m_buffer.size() > m_limits.maxDocumentBytes)
        breakWith(invalid(StreamEvent::Kind::DocumentTooLong, m_buffer.size(),
                          QStringLiteral("document too long, no %1 within %2 bytes")
                              .arg(QLatin1StringView(kAmlDocumentEnd))
                              .arg(m_limits.maxDocumentBytes)),
                  events);
}

void ConnectionStream::stripHeartbeatAnswers(qsizetype from, QList<StreamEvent> &events) {
    const QByteArray answer = heartbeatAnswerBytes();
    for (qsizetype at = m_buffer.indexOf(answer, from); at >= 0;
         at = m_buffer.indexOf(answer, at)) {
        m_buffer.remove(at, answer.size());
        events.append(invalid(StreamEvent::Kind::HeartbeatAnswer, answer.size(), {}));
    }
}

void ConnectionStream::breakWith(StreamEvent event, QList<StreamEvent> &events) {
    events.append(event);
    m_broken = true;
    m_buffer.clear();
    m_buffer.squeeze();
}
