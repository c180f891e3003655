// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Received bytes as the operator sees them in the message box: printable
// bytes as Latin-1 characters, CR, LF and tab as themselves (the box breaks the
// line or moves to the tab stop), every other control byte (0x00-0x1F and 0x7F)
// as its ASCII name in angle brackets, e.g. <NUL>, <STX>, <ETX>, which a text box
// could not show. Nothing is dropped, so a response with NULs or framing shows in full.
QString toVisibleText(const QByteArray &bytes);
