// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectionstream.h"

#include <QDateTime>
#include <QString>

// The text of the receiver's output lines: time, side, peer, then what
// arrived and its verdict, as in
// "2026-12-05 14:03:11.204 T4 127.0.0.1:40512 term 999 len 0307 type 3 fields 52 OK".

QString timestampText(const QDateTime &when);

// "2 s" for whole seconds, else "1500 ms".
QString durationText(int ms);

// "T4" or "T5"; an undecided stream takes the side of the port it came in on.
QString sideText(StreamKind kind);

// "127.0.0.1:40512", with " on port 7018" when the stream is not of the
// kind its port is meant for.
QString peerText(const QString &address, quint16 port, StreamKind streamKind, StreamKind portKind,
                 quint16 localPort);

// What a frame or document event says after the peer: "term 999 len 0307
// type 3 fields 52 OK", "document 116 lines 4711 bytes INVALID: <reason>".
QString describeEvent(const StreamEvent &event);
// The same without the verdict: "term 999 len 0307 type 3 fields 52".
QString eventDetail(const StreamEvent &event);
// "frame", "garbage", "incomplete document", ...
QString eventName(StreamEvent::Kind kind);

QString verdictText(bool ok, const QString &reason);

QString heartbeatAnsweredText(qint64 ms);
QString heartbeatNotAnsweredText(int timeoutMs);

QString receiverLine(const QDateTime &when, const QString &side, const QString &peer,
                     const QString &text);
