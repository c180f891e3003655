// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commandwords.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The canned Type 4 buttons, in the order of --send.
enum class CannedSend { Standard, NoAdd, Long, Min, Max };

// The MOLI shape option buttons optMOLI(0) to optMOLI(5).
enum class MoliShape { Point, Circular, CircularArc, Polygon, Ellipsoid, None };

// How the cycle reads the IPND data file; the window itself always reads RawLog.
enum class DataFileForm { RawLog, MultiPkt };

// What a headless run is asked to do, read from talvgen-cli's command line.
// Parsing checks every value; nothing here touches a file, a socket or a widget.
struct RunOptions {
    static constexpr double kDefaultWaitSeconds = 3.0;
    static constexpr double kMaxWaitSeconds = 3600.0;
    static constexpr int kMaxPeriods = 1'000'000;
    static constexpr int kMaxPeriodSeconds = 32767;
    static constexpr int kMaxMs = 3'600'000;
    static constexpr int kDefaultDelayLimitMs = 2000;
    static constexpr int kTermIdChars = 3;

    std::optional<Endpoint> type4; // socket row 0, enabled
    std::optional<Endpoint> type5; // socket row 1, enabled
    std::optional<Endpoint> row1;  // socket row 1, enabled, for the packet cycle alone
    QString dataFile;
    DataFileForm dataFileForm = DataFileForm::RawLog;
    std::optional<int> periodSeconds; // unset: the window's period stays
    int periods = 1;                  // period boundaries before Stop
    bool unlimited = false;           // tick "Unlimited Pkts" (the window's default is ticked)
    QList<CannedSend> sends;          // in the order given
    std::optional<MoliShape> moli;    // ticks "MOLI Data" and chooses the shape
    std::optional<QString> termId;
    bool send5 = false; // the canned AML document
    QString xmlFile;
    double waitSeconds = kDefaultWaitSeconds;
    QString junitFile; // JUnit XML report, written as the run goes
    QString csvFile;   // one CSV row per exchange
    bool quiet = false;
    int type4HoldMs = 0;                     // link 1 keeps its connection; 0: the window's way
    int delayLimitMs = kDefaultDelayLimitMs; // an answer later than this fails

    bool operator==(const RunOptions &) const = default;
    bool runsCycle() const { return !dataFile.isEmpty(); }
    int waitMs() const { return static_cast<int>(waitSeconds * 1000.0 + 0.5); }
    qint64 delayLimitUs() const { return qint64(delayLimitMs) * 1000; }
};

struct ParsedRunOptions {
    enum class Action { Run, Help, Version, UsageError };

    Action action = Action::UsageError;
    RunOptions options;
    QString message;      // the help or version text, or what is wrong
    QStringList warnings; // allowed, but probably not meant: for stderr
};

// arguments as QCoreApplication::arguments() gives them, program name first.
ParsedRunOptions parseRunOptions(const QStringList &arguments);

// "HOST:PORT"; an IPv6 address goes in brackets ("[::1]:7005").

// The --data-file or --xml file that cannot be read, with the reason; empty
// when both can be read.
QString unreadableFile(const RunOptions &options);

// The words of --send and --moli: "standard", "point".
QString sendWord(CannedSend send);
QString moliWord(MoliShape shape);
QString dataFileFormWord(DataFileForm form);

QString versionText();
