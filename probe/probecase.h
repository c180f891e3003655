// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The robustness probe's cases: deliberately bad carrier data for someone
// else's receiver, one case at a time. Generating a case is pure: a family,
// a seed and a case number give the same bytes and the same TCP behaviour on
// every run and every platform (no standard-library distributions, no
// std::hash; every random choice is taken from raw std::mt19937_64 output).
// Nothing here opens a socket: the probe runner sends what a case says.

enum class ProbeLink { Type4, Type5 };

// How the connection ends once every write is sent.
enum class ProbeEnding {
    Close,     // an orderly close, after the receiver's answer or its timeout
    HalfClose, // shutdown of our sending side straight after the last write; keep reading
    Reset,     // a reset (SO_LINGER 0) straight after the last write: the writes stop
               // partway through a frame or document, so the receiver loses the middle
    HoldOpen,  // nothing more is sent for holdMs, then an orderly close
};

// How the runner answers the receiver's heartbeats (STX H ETX) on link 2
// during the case.
enum class ProbeHeartbeat {
    Normal, // STX ACK ETX at once, as a carrier does
    Late,   // each answer heartbeatLateMs after its heartbeat
    Never,  // no answer at all
    Twice,  // two answers to each heartbeat, back to back
};

// One write() on the socket, after waiting delayUsBefore from the previous one
// (from the connect for the first).
struct ProbeWrite {
    QByteArray bytes;
    qint64 delayUsBefore = 0;
    bool operator==(const ProbeWrite &) const = default;
};

struct ProbeLimits {
    int maxConnections = 50;               // connections one case opens at once
    qint64 maxCaseBytes = 8 * 1024 * 1024; // every byte of a case, over all its connections
    qint64 maxCaseMs = 3000;               // delays between writes plus holding open
    bool operator==(const ProbeLimits &) const = default;
};

struct ProbeCase {
    QString family; // "type4-length"
    quint64 seed = 0;
    qint64 number = 0; // 0-based within the run
    QString title;     // a few printable words: "length field \"-0307\""
    ProbeLink link = ProbeLink::Type4;
    QList<ProbeWrite> writes; // in order, on one connection
    ProbeEnding ending = ProbeEnding::Close;
    qint64 holdMs = 0;   // HoldOpen only
    int connections = 1; // that many connections at once, each sending `writes`
    ProbeHeartbeat heartbeat = ProbeHeartbeat::Normal; // link 2 only
    qint64 heartbeatLateMs = 0;                        // Late only

    bool operator==(const ProbeCase &) const = default;

    // The bytes of one connection, writes joined.
    QByteArray bytes() const;
    // Every byte the case sends, over all its connections.
    qint64 totalBytes() const;
    // What the case takes by design: the delays between writes and the hold.
    qint64 durationMs() const;
    // A case slow on purpose (trickle, hold-open, late or missing heartbeat
    // answers): its slowness is not the receiver's.
    bool waitsOnPurpose() const;
};

// Every family name, in a fixed order.
QStringList probeFamilies();
bool isProbeFamily(const QString &name);

// Empty when every name is a family and there is at least one; else one line
// saying what is wrong, in the program's words.
QString probeFamiliesError(const QStringList &families);

// Case `number` of a run with this seed over these families: the cases rotate
// through the families in the order given, case n being the (n / size)-th case
// of family n % size. A family's k-th case depends on the seed, the family and
// k only, not on which other families run beside it. Bounded by limits: no more
// connections, bytes or milliseconds than they allow (a case over maxCaseBytes
// is cut, and says so in its title). Unset when probeFamiliesError() refuses
// the families or the number is negative.
std::optional<ProbeCase> probeCase(const QStringList &families, quint64 seed, qint64 number,
                                   const ProbeLimits &limits = {});
