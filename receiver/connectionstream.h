// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "heartbeat.h"
#include "type4frame.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// What a connection carries. Data opening with "<" is a stream of Type 5
// documents, anything else a stream of Type 4 frames, on either port: the
// packet cycle may send frames to the Type 5 port.
enum class StreamKind { Undecided, Type4, Type5 };

// One thing found in a connection's bytes, with its verdict.
struct StreamEvent {
    enum class Kind {
        Frame,              // a whole frame, checked
        Garbage,            // bytes that cannot start a frame
        FrameTooLong,       // the length announces more than the limit
        IncompleteFrame,    // bytes left over when the connection ended
        Document,           // a whole document, checked
        DocumentTooLong,    // no document end within the limit
        IncompleteDocument, // bytes left over when the connection ended
        HeartbeatAnswer,    // 0x02 0x06 0x03
    };

    Kind kind = Kind::Frame;
    bool ok = false;
    QString reason;      // why it is invalid; empty when ok
    Type4Frame frame;    // Frame; terminal ID and length also for FrameTooLong
    int ipndFields = 0;  // Frame
    int moliFields = 0;  // Frame
    int lines = 0;       // Document
    qsizetype bytes = 0; // size of what the event covers
};

struct StreamLimits {
    qsizetype maxFrameBodyChars = 1024 * 1024;
    qsizetype maxDocumentBytes = 4 * 1024 * 1024;
};

// Takes a connection's bytes as they arrive, in reads of any size, and turns
// them into events. Memory is bounded by the limits: a frame or document
// over them is reported and the stream is broken, after which the
// connection has to go, since nothing marks where the next frame starts.
class ConnectionStream {
public:
    explicit ConnectionStream(StreamLimits limits = {})
        : m_limits(limits) {}

    QList<StreamEvent> feed(QByteArrayView data);
    // The connection has ended: what is left is an incomplete frame or
    // document.
    QList<StreamEvent> finish();

    StreamKind kind() const { return m_kind; }
    bool isBroken() const { return m_broken; }
    qsizetype bufferedBytes() const { return m_buffer.size(); }
    // The most this stream ever held at once.
    qsizetype peakBufferedBytes() const { return m_peakBuffered; }

private:
    void decideKind(QList<StreamEvent> &events);
    void takeFrames(QList<StreamEvent> &events);
    void takeDocuments(qsizetype newFrom, QList<StreamEvent> &events);
    void stripHeartbeatAnswers(qsizetype from, QList<StreamEvent> &events);
    void breakWith(StreamEvent event, QList<StreamEvent> &events);

    StreamLimits m_limits;
    StreamKind m_kind = StreamKind::Undecided;
    bool m_broken = false;
    QByteArray m_buffer;
    qsizetype m_peakBuffered = 0;
};
