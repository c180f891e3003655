// SPDX-License-Identifier: GPL-3.0-or-later
#include "linktally.h"

#include <numeric>

qint64 LinkTally::faultCount() const {
    return std::accumulate(faults.begin(), faults.end(), qint64(0));
}
