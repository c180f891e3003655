// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <array>

// How one exchange with a receiver ended, in every mode: the runner's
// exchanges, the load mode's arrivals and whatever drives a receiver next.
enum class Outcome {
    Answered,
    Delayed,            // answered, later than the limit
    Unanswered,         // no answer in time
    ClosedBeforeAnswer, // link 1 closed its own connection at the poll after sending
    Refused,            // the connect was refused
    Reset,              // the receiver reset the connection
    Closed,             // the receiver closed the connection with no answer
    Malformed,          // an answer that is not one
    SocketError,        // any other failure of the socket
};

// A connect that failed, by the system's own error number: refused, reset or any other error.
Outcome outcomeOfConnectError(int systemError);

constexpr int kOutcomeKinds = int(Outcome::SocketError) + 1;

// "answered", "delayed", "unanswered", "closed by link 1 before an answer", "refused",
// "reset", "closed", "malformed", "error".
QString outcomeText(Outcome outcome);

// The outcomes the load mode counts an arrival's failure by, in the order its reports give them.
constexpr std::array<Outcome, 6> kLoadFaults = {Outcome::Refused,   Outcome::Reset,
                                                Outcome::Closed,    Outcome::Unanswered,
                                                Outcome::Malformed, Outcome::SocketError};
