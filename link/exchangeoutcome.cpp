// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchangeoutcome.h"

#include "socketcontrol.h"

QString outcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Answered:
        return QStringLiteral("answered");
    case Outcome::Delayed:
        return QStringLiteral("delayed");
    case Outcome::Unanswered:
        return QStringLiteral("unanswered");
    case Outcome::ClosedBeforeAnswer:
        return QStringLiteral("closed by link 1 before an answer");
    case Outcome::Refused:
        return QStringLiteral("refused");
    case Outcome::Reset:
        return QStringLiteral("reset");
    case Outcome::Closed:
        return QStringLiteral("closed");
    case Outcome::Malformed:
        return QStringLiteral("malformed");
    case Outcome::SocketError:
        break;
    }
    return QStringLiteral("error");
}

Outcome outcomeOfConnectError(int systemError) {
    switch (SocketControl::failureOfSystemError(systemError).number) {
    case SocketControl::kErrorConnectionRefused:
        return Outcome::Refused;
    case SocketControl::kErrorConnectionReset:
        return Outcome::Reset;
    default:
        return Outcome::SocketError;
    }
}
