// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectionstream.h"

#include <QMap>
#include <QString>
#include <QStringList>

// What the receiver counts while it runs, its summary and its exit status.
struct ReceiverStats {
    // Distinct refusal reasons kept; a hostile peer can make up many.
    static constexpr int kMaxReasons = 100;

    qint64 connections = 0;
    qint64 connectionsDropped = 0;
    qint64 frames = 0;
    qint64 framesValid = 0;
    qint64 documents = 0;
    qint64 documentsValid = 0;
    qint64 heartbeatsSent = 0;
    qint64 heartbeatsAnswered = 0;
    qint64 heartbeatsNotAnswered = 0;
    qint64 heartbeatAnswersUnasked = 0;
    qint64 repliesSent = 0;
    qint64 repliesDropped = 0;
    qsizetype peakBufferedBytes = 0;
    // "T4 <reason>" or "T5 <reason>" to how often it was seen.
    QMap<QString, qint64> invalidReasons;

    // Counts a frame or document event (other kinds are ignored).
    void count(const StreamEvent &event);

    qint64 framesInvalid() const { return frames - framesValid; }
    qint64 documentsInvalid() const { return documents - documentsValid; }

    QStringList summaryLines() const;
    // 0 when everything received was valid and every heartbeat answered.
    int exitStatus() const;

private:
    void addInvalid(const QString &side, const QString &reason);
};

bool isFrameEvent(const StreamEvent &event);
bool isDocumentEvent(const StreamEvent &event);
