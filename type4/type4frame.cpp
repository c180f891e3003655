// SPDX-License-Identifier: GPL-3.0-or-later
#include "type4frame.h"

#include "numerictext.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

struct Header {
    Type4Frame::ParseResult result = Type4Frame::ParseResult::NeedMore;
    qsizetype length = 0;
    qsizetype bodyStart = 0;
    QString error;
};

Header garbage(const QString &why) {
    return {Type4Frame::ParseResult::Garbage, 0, 0, why};
}

// Terminal ID, then the run of length digits and type digit that the "|"
// opening the record ends.
Header readHeader(QByteArrayView buffer, qsizetype maxBodyChars) {
    const qsizetype runStart = Type4Frame::kTerminalIdChars;
    const qsizetype maxRun = Type4Frame::kMaxLengthDigits + 1;
    qsizetype runEnd = runStart;
    while (runEnd < buffer.size() && isDigit(buffer[runEnd]) && runEnd - runStart <= maxRun)
        ++runEnd;
    const qsizetype run = runEnd - runStart;
    if (run > maxRun)
        return garbage(QStringLiteral("length field is longer than %1 digits")
                           .arg(Type4Frame::kMaxLengthDigits));
    if (runEnd >= buffer.size())
        return {};
    if (buffer[runEnd] != '|' || run < Type4Frame::kMinLengthDigits + 1)
        return garbage(QStringLiteral("no length of at least %1 digits, type digit and \"|\" "
                                      "after the terminal ID")
                           .arg(Type4Frame::kMinLengthDigits));
    const QByteArrayView digits = buffer.sliced(runStart, run - 1);
    if (digits.size() > Type4Frame::kMinLengthDigits && digits.front() == '0')
        return garbage(QStringLiteral("length field %1 has a leading zero beyond four digits")
                           .arg(QString::fromLatin1(digits)));
    const qsizetype length = digits.toLongLong();
    if (length < 2)
        return garbage(QStringLiteral("length %1 cannot hold a type digit and \"|\"").arg(length));
    if (length > maxBodyChars)
        return garbage(
            QStringLiteral("length %1 is over the limit of %2").arg(length).arg(maxBodyChars));
    return {Type4Frame::ParseResult::Frame, length, runEnd - 1, {}};
}

} // namespace

QByteArray type4LengthField(qsizetype n) {
    return QByteArray::number(n).rightJustified(Type4Frame::kMinLengthDigits, '0');
}

QByteArray fileRecordTerminalId(const QByteArray &body) {
    const QByteArray chars = body.mid(2, 2);
    if (!isNumericText(chars))
        return chars;
    return chars.rightJustified(Type4Frame::kTerminalIdChars, '0');
}

QByteArray frameFileRecord(const QByteArray &body) {
    return fileRecordTerminalId(body) + type4LengthField(body.size()) + body;
}

QByteArray frameCannedRecord(const QByteArray &termId, const QByteArray &record, bool moliChecked) {
    return termId + type4LengthField(record.size() + 1) + (moliChecked ? '4' : '3') + record;
}

Type4Frame::ParseResult Type4Frame::parse(QByteArrayView buffer, qsizetype &consumed,
                                          Type4Frame &frame, QString *reason,
                                          qsizetype maxBodyChars) {
    consumed = 0;
    const Header header = readHeader(buffer, maxBodyChars);
    if (header.result != ParseResult::Frame) {
        if (header.result == ParseResult::Garbage) {
            consumed = buffer.size();
            if (reason)
                *reason = header.error;
        }
        return header.result;
    }
    frame.terminalId = buffer.first(kTerminalIdChars).toByteArray();
    frame.length = header.length;
    if (buffer.size() - header.bodyStart < header.length)
        return ParseResult::NeedMore;
    frame.body = buffer.sliced(header.bodyStart, header.length).toByteArray();
    consumed = header.bodyStart + header.length;
    return ParseResult::Frame;
}
