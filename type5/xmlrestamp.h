// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>

// A loaded XML line that begins exactly (case matters, no leading blanks)
// with <Date_Sent>, <Time_Sent> or <AML_Time_of_Positioning_TOP> is
// replaced whole by that element holding the given moment; whatever else
// the line held is dropped. Any other line is returned unchanged.
QByteArray restampXmlLine(const QByteArray &line, const QDateTime &now);

// The moment as a restamped date and time element holds it: "2026-12-08 14:03:11".
QByteArray restampDateTimeText(const QDateTime &now);

// True when restampXmlLine would replace the line, so the loader reads its
// clock only for the lines that need it.
bool isRestampedXmlLine(const QByteArray &line);
