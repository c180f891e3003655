// SPDX-License-Identifier: GPL-3.0-or-later
// The Type 4 checker: the fuzzed bytes as a body, as a frame, and framed
// as the canned and data-file senders frame a body.
#include "fuzzsupport.h"
#include "recordfields.h"
#include "type4frame.h"

namespace {

void checkVerdict(const Type4Check &check) {
    require(check.ok == check.reason.isEmpty(), "a refusal has a reason, a pass none");
    require(check.ipndFields >= 0 && check.ipndFields <= kIpndFieldCount,
            "IPND field count within the layout");
    require(check.moliFields >= 0, "MOLI field count not negative");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes = bytesOf(data, size);
    const Type4Check body = checkType4Body(bytes);
    checkVerdict(body);
    checkVerdict(checkType4Frame(bytes));

    Type4Frame frame;
    qsizetype consumed = -1;
    QString reason;
    switch (Type4Frame::parse(bytes, consumed, frame, &reason)) {
    case Type4Frame::ParseResult::Frame:
        require(consumed > 0 && consumed <= bytes.size() && frame.body.size() == frame.length,
                "a frame is as long as its length says");
        require(bytes.startsWith(frame.terminalId) && bytes.first(consumed).endsWith(frame.body),
                "a frame is terminal ID, length, body");
        break;
    case Type4Frame::ParseResult::NeedMore:
        require(consumed == 0, "an incomplete frame consumes nothing");
        break;
    case Type4Frame::ParseResult::Garbage:
        require(consumed == bytes.size() && !reason.isEmpty(), "garbage says why, takes all");
        break;
    }

    // What a sender frames, a reader reads back whole with the same verdict,
    // when the body opens with a type digit and "|", as the length run needs.
    if (bytes.size() >= 2 && bytes[0] >= '0' && bytes[0] <= '9' && bytes[1] == '|') {
        const QByteArray framed = frameFileRecord(bytes);
        const Type4Check again = checkType4Frame(framed);
        checkVerdict(again);
        if (fileRecordTerminalId(bytes).size() == Type4Frame::kTerminalIdChars)
            require(again.ok == body.ok && again.reason == body.reason,
                    "a framed body keeps the body's verdict");
    }
    return 0;
}
