// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiveroptions.h"
#include "receiverstats.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <functional>

// What the receiver shares with each of its connections.
struct ReceiverContext {
    ReceiverOptions options;
    ReceiverStats stats;
    std::function<QDateTime()> clock = [] {
        return QDateTime::currentDateTime();
    };
    std::function<void(const QString &line)> emitLine;
    // One record per frame, document and heartbeat, in the columns of
    // receiverRecordHeader(); unset when nobody keeps them.
    std::function<void(const QStringList &fields)> emitRecord;
    QElapsedTimer monotonic; // started with the receiver

    qint64 nowMs() const { return monotonic.elapsed(); }
    qint64 nowNs() const { return monotonic.nsecsElapsed(); }
};
