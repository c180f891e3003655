// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiverstats.h"

namespace {

const QString kOtherReasons = QStringLiteral("(other reasons)");

} // namespace

bool isFrameEvent(const StreamEvent &event) {
    switch (event.kind) {
    case StreamEvent::Kind::Frame:
    case StreamEvent::Kind::Garbage:
    case StreamEvent::Kind::FrameTooLong:
    case StreamEvent::Kind::IncompleteFrame:
        return true;
    default:
        return false;
    }
}

bool isDocumentEvent(const StreamEvent &event) {
    switch (event.kind) {
    case StreamEvent::Kind::Document:
    case StreamEvent::Kind::DocumentTooLong:
    case StreamEvent::Kind::IncompleteDocument:
        return true;
    default:
        return false;
    }
}

void ReceiverStats::count(const StreamEvent &event) {
    if (isFrameEvent(event)) {
        ++frames;
        if (event.ok)
            ++framesValid;
        else
            addInvalid(QStringLiteral("T4"), event.reason);
    } else if (isDocumentEvent(event)) {
        ++documents;
        if (event.ok)
            ++documentsValid;
        else
            addInvalid(QStringLiteral("T5"), event.reason);
    }
}

void ReceiverStats::addInvalid(const QString &side, const QString &reason) {
    QString key = QStringLiteral("%1 %2").arg(side, reason);
    if (!invalidReasons.contains(key) && invalidReasons.size() >= kMaxReasons)
        key = QStringLiteral("%1 %2").arg(side, kOtherReasons);
    ++invalidReasons[key];
}

QStringList ReceiverStats::summaryLines() const {
    QStringList lines;
    lines << QStringLiteral("summary: frames received %1, valid %2, invalid %3")
                 .arg(frames)
                 .arg(framesValid)
                 .arg(framesInvalid());
    lines << QStringLiteral("summary: documents received %1, valid %2, invalid %3")
                 .arg(documents)
                 .arg(documentsValid)
                 .arg(documentsInvalid());
    for (auto it = invalidReasons.cbegin(); it != invalidReasons.cend(); ++it)
        lines << QStringLiteral("summary: invalid %1 x %2").arg(it.value()).arg(it.key());
    lines << QStringLiteral("summary: heartbeats sent %1, answered %2, not answered %3, "
                            "answers without a heartbeat %4")
                 .arg(heartbeatsSent)
                 .arg(heartbeatsAnswered)
                 .arg(heartbeatsNotAnswered)
                 .arg(heartbeatAnswersUnasked);
    lines << QStringLiteral("summary: replies sent %1, not sent because the peer closed %2")
                 .arg(repliesSent)
                 .arg(repliesDropped);
    lines << QStringLiteral("summary: connections %1, dropped by the receiver %2")
                 .arg(connections)
                 .arg(connectionsDropped);
    return lines;
}

int ReceiverStats::exitStatus() const {
    const bool allGood =
        framesInvalid() == 0 && documentsInvalid() == 0 && heartbeatsNotAnswered == 0;
    return allGood ? 0 : 1;
}
