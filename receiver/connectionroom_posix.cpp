// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectionroom.h"

#include <limits>
#include <sys/resource.h>

namespace {

// Descriptors kept back from connections: the listeners, the connections
// waiting in their queues, standard streams and Qt's own.
constexpr rlim_t kReservedDescriptors = 320;

} // namespace

// Every connection is a descriptor: takes all the system allows.
qint64 connectionRoom() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    const rlim_t room = limit.rlim_cur > 2 * kReservedDescriptors
                            ? limit.rlim_cur - kReservedDescriptors
                            : limit.rlim_cur / 2;
    return qint64(qMin<rlim_t>(room, rlim_t(std::numeric_limits<qint64>::max())));
}
