// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's handling of a connection's bytes: the sniffing of a Type 4
// against a Type 5 stream, heartbeat answers, frames and documents split
// over reads. Bit 4 of the control byte selects small limits, so that the
// too-long paths are reached; with the normal limits, the events must not
// depend on where the reads cut the bytes.
#include "connectionstream.h"
#include "fuzzsupport.h"

namespace {

constexpr StreamLimits kSmallLimits{64, 512};

struct Outcome {
    QList<StreamEvent> events;
    StreamKind kind = StreamKind::Undecided;
};

Outcome run(const std::vector<QByteArrayView> &reads, StreamLimits limits) {
    ConnectionStream stream(limits);
    Outcome outcome;
    qsizetype fed = 0;
    for (const QByteArrayView read : reads) {
        fed += read.size();
        outcome.events += stream.feed(read);
        require(stream.bufferedBytes() <= fed, "buffers no more than it was fed");
        if (stream.kind() == StreamKind::Type4)
            require(stream.bufferedBytes() <= limits.maxFrameBodyChars +
                                                  Type4Frame::kTerminalIdChars +
                                                  Type4Frame::kMaxLengthDigits + read.size(),
                    "a frame stream holds one frame at most");
        if (stream.kind() == StreamKind::Type5)
            require(stream.bufferedBytes() <= limits.maxDocumentBytes,
                    "a document stream holds one document at most");
        if (stream.isBroken())
            require(stream.bufferedBytes() == 0, "a broken stream holds nothing");
    }
    outcome.events += stream.finish();
    require(stream.bufferedBytes() == 0, "nothing is left after the end");
    outcome.kind = stream.kind();
    for (const StreamEvent &event : outcome.events) {
        require(event.bytes >= 0 && event.bytes <= fed, "an event covers bytes that came");
        require(event.ok == event.reason.isEmpty() ||
                    event.kind == StreamEvent::Kind::HeartbeatAnswer,
                "a verdict has a reason exactly when it is not ok");
    }
    return outcome;
}

// Heartbeat answers are reported as they are found, before or between
// documents depending on the reads; the rest keeps its order.
QList<StreamEvent> withoutAnswers(QList<StreamEvent> events) {
    events.removeIf(
        [](const StreamEvent &event) { return event.kind == StreamEvent::Kind::HeartbeatAnswer; });
    return events;
}

// Garbage covers what was buffered when it was seen, so its size depends
// on the reads; everything else must not.
bool sameEvents(const QList<StreamEvent> &a, const QList<StreamEvent> &b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const StreamEvent &x = a[i];
        const StreamEvent &y = b[i];
        const bool sizesMatter =
            x.kind != StreamEvent::Kind::Garbage && x.kind != StreamEvent::Kind::FrameTooLong;
        if (x.kind != y.kind || x.ok != y.ok || x.reason != y.reason ||
            (sizesMatter && x.bytes != y.bytes) || x.frame.body != y.frame.body ||
            x.lines != y.lines)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const CutInput input(data, size);
    const bool small = input.control & 0x10;
    const StreamLimits limits = small ? kSmallLimits : StreamLimits{};
    const Outcome cut = run(input.pieces(), limits);
    if (small)
        return 0;
    const Outcome whole = run({input.payload}, limits);
    require(cut.kind == whole.kind, "the kind does not depend on the reads");
    require(sameEvents(withoutAnswers(cut.events), withoutAnswers(whole.events)),
            "the events do not depend on the reads");
    return 0;
}
