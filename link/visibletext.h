#pragma once

#include <QByteArray>
#include <QString>

// Received bytes as the operator sees them in the message box: printable
// bytes as Latin-1 characters, every control byte (0x00-0x1F and 0x7F) as its
// ASCII name in angle brackets, e.g. <NUL>, <STX>, <ETX>, <CR>, <LF>. Nothing is
// dropped, so a response with embedded NULs or framing shows in full.
QString toVisibleText(const QByteArray &bytes);
