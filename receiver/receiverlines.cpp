// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiverlines.h"

#include "type4frame.h"

namespace {

QString fieldsText(const StreamEvent &event) {
    if (event.moliFields == 0)
        return QString::number(event.ipndFields);
    return QStringLiteral("%1+%2").arg(event.ipndFields).arg(event.moliFields);
}

QString headerText(const Type4Frame &frame) {
    return QStringLiteral("term %1 len %2")
        .arg(QString::fromLatin1(frame.terminalId),
             QString::fromLatin1(type4LengthField(frame.length)));
}

QString frameText(const StreamEvent &event) {
    const QString type = QString::fromLatin1(event.frame.body.first(1));
    return QStringLiteral("%1 type %2 fields %3")
        .arg(headerText(event.frame), type, fieldsText(event));
}

} // namespace

QString durationText(int ms) {
    if (ms % 1000 == 0)
        return QStringLiteral("%1 s").arg(ms / 1000);
    return QStringLiteral("%1 ms").arg(ms);
}

QString timestampText(const QDateTime &when) {
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString sideText(StreamKind kind) {
    return kind == StreamKind::Type5 ? QStringLiteral("T5") : QStringLiteral("T4");
}

QString peerText(const QString &address, quint16 port, StreamKind streamKind, StreamKind portKind,
                 quint16 localPort) {
    const QString host =
        address.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(address) : address;
    const QString peer = QStringLiteral("%1:%2").arg(host).arg(port);
    if (streamKind == StreamKind::Undecided || streamKind == portKind)
        return peer;
    return QStringLiteral("%1 on port %2").arg(peer).arg(localPort);
}

QString verdictText(bool ok, const QString &reason) {
    return ok ? QStringLiteral("OK") : QStringLiteral("INVALID: %1").arg(reason);
}

QString eventName(StreamEvent::Kind kind) {
    switch (kind) {
    case StreamEvent::Kind::Frame:
        return QStringLiteral("frame");
    case StreamEvent::Kind::Garbage:
        return QStringLiteral("garbage");
    case StreamEvent::Kind::FrameTooLong:
        return QStringLiteral("frame too long");
    case StreamEvent::Kind::IncompleteFrame:
        return QStringLiteral("incomplete frame");
    case StreamEvent::Kind::Document:
        return QStringLiteral("document");
    case StreamEvent::Kind::DocumentTooLong:
        return QStringLiteral("document too long");
    case StreamEvent::Kind::IncompleteDocument:
        return QStringLiteral("incomplete document");
    case StreamEvent::Kind::HeartbeatAnswer:
        break;
    }
    return QStringLiteral("heartbeat");
}

QString eventDetail(const StreamEvent &event) {
    switch (event.kind) {
    case StreamEvent::Kind::Frame:
        return frameText(event);
    case StreamEvent::Kind::Garbage:
        return QStringLiteral("garbage"); // its size depends on the reads
    case StreamEvent::Kind::FrameTooLong:
        return headerText(event.frame);
    case StreamEvent::Kind::IncompleteFrame:
        return QStringLiteral("incomplete frame %1 bytes").arg(event.bytes);
    case StreamEvent::Kind::Document:
        return QStringLiteral("document %1 lines %2 bytes").arg(event.lines).arg(event.bytes);
    case StreamEvent::Kind::DocumentTooLong:
        return QStringLiteral("document %1 bytes").arg(event.bytes);
    case StreamEvent::Kind::IncompleteDocument:
        return QStringLiteral("incomplete document %1 bytes").arg(event.bytes);
    case StreamEvent::Kind::HeartbeatAnswer:
        break;
    }
    return QStringLiteral("heartbeat answer");
}

QString describeEvent(const StreamEvent &event) {
    if (event.kind == StreamEvent::Kind::HeartbeatAnswer)
        return eventDetail(event); // its verdict depends on the heartbeat the connection sent
    return QStringLiteral("%1 %2").arg(eventDetail(event), verdictText(event.ok, event.reason));
}

QString heartbeatAnsweredText(qint64 ms) {
    return QStringLiteral("heartbeat answered in %1 ms").arg(ms);
}

QString heartbeatNotAnsweredText(int timeoutMs) {
    return QStringLiteral("heartbeat not answered within %1").arg(durationText(timeoutMs));
}

QString receiverLine(const QDateTime &when, const QString &side, const QString &peer,
                     const QString &text) {
    return QStringLiteral("%1 %2 %3 %4").arg(timestampText(when), side, peer, text);
}
