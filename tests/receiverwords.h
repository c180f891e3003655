// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receiveroptions.h"

#include <QStringList>

// A receiver on port 0 as a row names it, in words: "refuse" (both sides),
// "refuse4", "refuse5", "reset", "no-reply", "reply TEXT", "delay MS",
// "heartbeat MS"; anything else answers at once.
inline ReceiverOptions receiverOptions(const QString &words) {
    const QStringList said = words.split(QLatin1Char(' '));
    const auto value = [&said](const QString &name) {
        return said.contains(name) ? said.value(said.indexOf(name) + 1) : QString();
    };
    ReceiverOptions options;
    options.type4Port = options.type5Port = 0;
    options.quiet = true;
    options.refuseType4 =
        said.contains(QStringLiteral("refuse")) || said.contains(QStringLiteral("refuse4"));
    options.refuseType5 =
        said.contains(QStringLiteral("refuse")) || said.contains(QStringLiteral("refuse5"));
    options.resetConnections = said.contains(QStringLiteral("reset"));
    options.noReply = said.contains(QStringLiteral("no-reply"));
    if (said.contains(QStringLiteral("reply")))
        options.reply = value(QStringLiteral("reply")).toLatin1();
    options.delayMs = value(QStringLiteral("delay")).toInt();
    options.heartbeatIntervalMs = value(QStringLiteral("heartbeat")).toInt();
    return options;
}
