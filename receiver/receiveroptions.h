// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

// How the receiver behaves; the command line fills it, tests set it
// directly (the millisecond settings have no option of their own).
struct ReceiverOptions {
    QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 type4Port = 7005;
    quint16 type5Port = 7018;
    bool refuseType4 = false;
    bool refuseType5 = false;
    int delayMs = 0;
    bool noReply = false;
    QByteArray reply = QByteArrayLiteral("ACK");
    bool closeAfterReply = false;     // Type 4 connections only
    bool resetConnections = false;    // a TCP reset where the reply would go
    int heartbeatIntervalMs = 30'000; // 0: no heartbeats
    int heartbeatAnswerTimeoutMs = 2'000;
    int durationMs = 0; // 0: until SIGINT or SIGTERM
    bool quiet = false;
    QString csvFile; // a row per frame, document and heartbeat; empty: none

    // What a peer can make the receiver hold or keep.
    qsizetype maxFrameBodyChars = 1024 * 1024;
    qsizetype maxDocumentBytes = 4 * 1024 * 1024;
    int maxConnections = 4096; // talvrecv lowers it to fit its descriptor limit
    int type4IdleTimeoutMs = 30'000;
    int type5IdleTimeoutMs = 600'000;
    int idleSweepIntervalMs = 1'000;
};

struct ReceiverCommandLine {
    enum class Action { Run, Help, Version, UsageError, WiresharkFields };

    Action action = Action::Run;
    ReceiverOptions options;
    QString error;    // UsageError: what was wrong
    QString helpText; // the usage message, for Help and UsageError
};

// arguments[0] is the program name, as in QCoreApplication::arguments().
ReceiverCommandLine parseReceiverCommandLine(const QStringList &arguments);
