// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "arrivalschedule.h"
#include "cannedrecords.h"
#include "commandwords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What `talvgen-cli load` is asked to do. Parsing checks every value;
// nothing here touches a file or a socket.

using LoadEndpoint = Endpoint;

struct LoadOptions {
    std::optional<LoadEndpoint> type4;
    std::optional<LoadEndpoint> type5;
    int carriers = 1;             // lasting Type 5 connections
    RatePlan rate;                // each link runs its own arrivals at this rate
    double durationSeconds = 0.0; // 0: until --count
    qint64 count = 0;             // arrivals per link; 0: until --duration
    int maxInFlight = 1000;       // per link
    int timeoutMs = 2000;
    // Canned Type 4 records, taken in turn; empty with a data file.
    QList<CannedRecord> records;
    std::optional<int> moliShape; // index into the MOLI records; unset: "MOLI Data" unticked
    QString dataFile;
    QString xmlFile;
    QList<QByteArray> termIds{QByteArrayLiteral("999")};
    QByteArray expectedAnswer = QByteArrayLiteral("ACK");
    QString csvFile;
    QString junitFile;
    std::optional<double> p99LimitMs;
    qint64 maxFailures = 0;
};

struct ParsedLoadOptions {
    enum class Action { Run, Help, Version, UsageError };

    Action action = Action::UsageError;
    LoadOptions options;
    QString message; // the help or version text, or what is wrong
};

// arguments: the program name, "load", then the options.
ParsedLoadOptions parseLoadOptions(const QStringList &arguments);

// "talvgen-cli load: PROBLEM" and "Try 'talvgen-cli load --help'", with no line
// end after the second.
QString loadUsageError(const QString &problem);

// "talvgen-cli 1.10.69", as `talvgen-cli --version` prints it.
QString loadVersionText();
