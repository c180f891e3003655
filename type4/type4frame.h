// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A Type 4 frame on link 1: terminal ID, body length, body. The body is the
// record type digit ("3" IPND only, "4" IPND then MOLI) followed by the
// record, whose fields each begin with "|". Frames travel back to back with
// nothing between them.
//
// The length is written with at least four digits; a body of 10000
// characters or more gets all its digits. A stream reader therefore cannot
// count on four digits: it takes the run of digits after the 3-character
// terminal ID, up to the "|" that opens the record. The last digit of that
// run is the type digit, the digits before it are the length. A length of
// five or more digits never starts with "0".
struct Type4Frame {
    enum class ParseResult { NeedMore, Frame, Garbage };

    static constexpr qsizetype kTerminalIdChars = 3;
    static constexpr qsizetype kMinLengthDigits = 4;
    static constexpr qsizetype kMaxLengthDigits = 8;
    static constexpr qsizetype kMaxBodyChars = 99'999'999;

    QByteArray terminalId;
    qsizetype length = 0;
    QByteArray body;

    // Reads the frame at the start of buffer. Frame: frame is filled and
    // consumed is its size in bytes. NeedMore: the frame is not complete yet,
    // consumed is 0; once the length field has arrived, terminalId and
    // length are already set. Garbage: the bytes cannot start a frame (reason says
    // why); consumed is the whole buffer, since nothing in a frame marks
    // where the next one begins. A length over maxBodyChars is garbage, so
    // a reader can bound what it buffers.
    static ParseResult parse(QByteArrayView buffer, qsizetype &consumed, Type4Frame &frame,
                             QString *reason = nullptr, qsizetype maxBodyChars = kMaxBodyChars);
};

// The length field: n with at least four digits, leading zeros.
QByteArray type4LengthField(qsizetype n);

// Terminal ID of a data-file packet: characters 3 and 4 of the body as a
// three-digit number ("12" gives "012"), or those characters unchanged when
// they are not digits.
QByteArray fileRecordTerminalId(const QByteArray &body);

// The frame of a data-file body (type digit and record): terminal ID from
// the body, length, body. "3|12345678|x" gives "01200123|12345678|x".
QByteArray frameFileRecord(const QByteArray &body);

// The frame of a canned record: the operator's terminal ID as typed, the
// length of record plus type digit, "4" when MOLI data is checked else "3",
// the record. ("999", "|A|B", unchecked) gives "99900053|A|B".
QByteArray frameCannedRecord(const QByteArray &termId, const QByteArray &record, bool moliChecked);
