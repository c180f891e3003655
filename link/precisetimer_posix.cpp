// SPDX-License-Identifier: GPL-3.0-or-later
#include "precisetimer.h"

#if defined(__linux__)
#include <QSocketNotifier>

#include <functional>

#include <sys/timerfd.h>
#include <unistd.h>

namespace {
// A timerfd wakes the loop's poll the moment it expires, whatever timeout
// Qt gave that poll.
class TimerFdWaiter : public PreciseTimer::Waiter {
public:
    TimerFdWaiter(int fd, const std::function<void()> &fired)
        : m_fd(fd)
        , m_notifier(fd, QSocketNotifier::Read) {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this, fired] {
            quint64 expirations = 0;
            if (::read(m_fd, &expirations, sizeof expirations) > 0)
                fired();
        });
    }
    ~TimerFdWaiter() override { ::close(m_fd); }
    bool arm(qint64 waitNs) override {
        itimerspec setting{};
        setting.it_value.tv_sec = time_t(waitNs / 1'000'000'000);
        setting.it_value.tv_nsec = long(waitNs % 1'000'000'000);
        return ::timerfd_settime(m_fd, 0, &setting, nullptr) == 0;
    }

private:
    int m_fd;
    QSocketNotifier m_notifier;
};
} // namespace

std::unique_ptr<PreciseTimer::Waiter> PreciseTimer::makeWaiter(PreciseTimer *owner) {
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd == -1)
        return nullptr;
    return std::make_unique<TimerFdWaiter>(fd, [owner] { owner->fired(); });
}
#else
std::unique_ptr<PreciseTimer::Waiter> PreciseTimer::makeWaiter(PreciseTimer *) {
    return nullptr;
}
#endif
