// SPDX-License-Identifier: GPL-3.0-or-later
#include "visibletext.h"

#include <array>

namespace {

constexpr std::array<const char *, 32> kControlNames = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

constexpr unsigned char kDelete = 0x7F;

// Line breaks and tabs are text a text box shows as themselves.
bool isLayoutByte(unsigned char code) {
    return code == '\r' || code == '\n' || code == '\t';
}

} // namespace

QString toVisibleText(const QByteArray &bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        if (isLayoutByte(code)) {
            text += QLatin1Char(byte);
        } else if (code < kControlNames.size()) {
            text += QLatin1Char('<') + QLatin1String(kControlNames[code]) + QLatin1Char('>');
        } else if (code == kDelete) {
            text += QLatin1String("<DEL>");
        } else {
            text += QLatin1Char(byte);
        }
    }
    return text;
}
