// SPDX-License-Identifier: GPL-3.0-or-later
#include "linktally.h"

#include <numeric>

QString faultName(Fault fault) {
    switch (fault) {
    case Fault::Refused:
        return QStringLiteral("refused");
    case Fault::Reset:
        return QStringLiteral("reset");
    case Fault::Closed:
        return QStringLiteral("closed");
    case Fault::Unanswered:
        return QStringLiteral("unanswered");
    case Fault::Malformed:
        return QStringLiteral("malformed");
    case Fault::SocketError:
        return QStringLiteral("error");
    }
    return {};
}

qint64 LinkTally::faultCount() const {
    return std::accumulate(faults.begin(), faults.end(), qint64(0));
}
