// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cannedrecords.h"
#include "commandwords.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// A test plan as read from its YAML file: what to send to a receiver, what to
// expect back, case by case. Every text that may hold {{name}} is kept as
// written; the runner fills it in as each step runs. Times are microseconds.

// Where a key or value stands in the plan file, 1-based, for error lines.
struct PlanPlace {
    int line = 0;
    int column = 0;
    bool operator==(const PlanPlace &) const = default;
};

enum class PlanLink { Type4, Type5 };

// What a failed step does to the rest of the run.
enum class OnFailure { Continue, StopCase, StopPlan };

struct SendSpec {
    enum class Kind {
        CannedType4, // a canned record, framed as its button frames it
        InlineType4, // a body written in the plan ("3|..."), framed around it
        FileType4,   // the next line of an IPND data file, in the RAWLOG form
        CannedType5, // the canned AML document
        FileType5,   // an XML file, restamped as link 2 sends it
        InlineType5, // document text written in the plan
        Raw,         // bytes as written, \xHH escapes decoded, on `link`
    };
    Kind kind = Kind::CannedType4;
    CannedRecord canned = CannedRecord::Standard;
    // The MOLI record after a canned record: unset when the step names none, else
    // kMoliPoint..kMoliEllipsoid, or kMoliNone ("moli: none", the type digit 4
    // with no record, as the window sends it).
    std::optional<int> moliShape;
    QString termId = QStringLiteral("999"); // canned and inline Type 4; a template
    QString text;                           // inline body, inline document or raw bytes; a template
    QString path;                    // FileType4 and FileType5, resolved against the plan's folder
    PlanLink link = PlanLink::Type4; // where it goes (Raw names it, the others imply it)
    QList<int> split;                // segment sizes; what is left goes last
    qint64 gapUs = 0;                // between segments
    PlanPlace place;
};

struct Capture {
    QString name;
    QString pattern; // its first group is taken
};

struct ExpectSpec {
    std::optional<QString> answer;  // a regular expression; a template
    std::optional<qint64> withinUs; // unset: the plan's default
    bool noAnswer = false;
    bool closed = false;
    bool heartbeat = false;
    QList<Capture> captures;
    PlanPlace place;
};

struct Step;

struct RepeatSpec {
    std::optional<int> count;
    std::optional<qint64> durationUs;
    double perSecond = 0; // 0: each iteration as soon as the last has ended
    QList<Step> steps;
};

struct Step {
    enum class Kind {
        Send,   // send, with an expect or none
        Expect, // an expect with no send: heartbeat, no_answer or closed on link 2
        Pause,
        Repeat,
    };
    Kind kind = Kind::Send;
    SendSpec send;
    std::optional<ExpectSpec> expect;
    qint64 pauseUs = 0;
    RepeatSpec repeat;
    std::optional<OnFailure> onFailure; // unset: the plan's default
    PlanPlace place;
};

struct PlanCase {
    QString name;
    QList<Step> steps;
    PlanPlace place;
};

struct PlanData {
    enum class Order { Sequential, Random };
    QString path; // as resolved against the plan's folder
    Order order = Order::Sequential;
    QStringList columns;
    QList<QStringList> rows; // each as many fields as columns
};

struct Thresholds {
    // Response times over every answered step of the plan.
    std::optional<qint64> p50Us;
    std::optional<qint64> p90Us;
    std::optional<qint64> p95Us;
    std::optional<qint64> p99Us;
    std::optional<qint64> maxUs;
    std::optional<int> failures; // failed steps, errors included
};

struct Plan {
    static constexpr qint64 kDefaultWithinUs = 2'000'000;

    QString file; // as given on the command line
    QString name; // the JUnit suite's name
    std::optional<Endpoint> type4;
    std::optional<Endpoint> type5;
    QList<std::pair<QString, QString>> vars; // after --set, in the order written
    std::optional<PlanData> data;
    qint64 defaultWithinUs = kDefaultWithinUs;
    OnFailure defaultOnFailure = OnFailure::Continue;
    Thresholds thresholds;
    quint64 seed = 1; // {{random:...}} and random data order
    QList<PlanCase> cases;
};
