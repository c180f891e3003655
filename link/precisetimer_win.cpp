// SPDX-License-Identifier: GPL-3.0-or-later
#include "precisetimer.h"

#include <QElapsedTimer>
#include <QWinEventNotifier>

#include <functional>
#include <windows.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {
// A high-resolution waitable timer (Windows 10 1803 and later) signals the
// loop the moment it expires; Qt's own timers keep to whole milliseconds.
class WaitableTimerWaiter : public PreciseTimer::Waiter {
public:
    WaitableTimerWaiter(HANDLE timer, const std::function<void()> &fired)
        : m_timer(timer)
        , m_notifier(timer) {
        m_clock.start();
        QObject::connect(&m_notifier, &QWinEventNotifier::activated, [this, fired] {
            if (!m_armed)
                return;
            // A signal from a wait since replaced, or one the timer's own
            // clock gave early, is not the end of this wait: wait out the rest
            // (or, should the system refuse that, end it now, not never).
            const qint64 restNs = m_dueNs - m_clock.nsecsElapsed();
            if (restNs > kSlackNs && setTimer(restNs))
                return;
            m_armed = false;
            fired();
        });
    }
    ~WaitableTimerWaiter() override {
        ::CancelWaitableTimer(m_timer);
        m_notifier.setEnabled(false);
        ::CloseHandle(m_timer);
    }
    bool arm(qint64 waitNs) override {
        if (waitNs == 0) {
            m_armed = false;
            return ::CancelWaitableTimer(m_timer) != 0;
        }
        m_armed = true;
        m_dueNs = m_clock.nsecsElapsed() + waitNs;
        m_armed = setTimer(waitNs);
        return m_armed;
    }

private:
    bool setTimer(qint64 waitNs) {
        LARGE_INTEGER due;
        due.QuadPart = -std::max<qint64>(1, waitNs / 100); // relative, in 100 ns units
        return ::SetWaitableTimer(m_timer, &due, 0, nullptr, nullptr, FALSE) != 0;
    }

    static constexpr qint64 kSlackNs = 200'000;
    HANDLE m_timer;
    QWinEventNotifier m_notifier;
    QElapsedTimer m_clock;
    qint64 m_dueNs = 0;
    bool m_armed = false;
};
} // namespace

std::unique_ptr<PreciseTimer::Waiter> PreciseTimer::makeWaiter(PreciseTimer *owner) {
    const HANDLE timer = ::CreateWaitableTimerExW(
        nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    if (!timer)
        return nullptr;
    return std::make_unique<WaitableTimerWaiter>(timer, [owner] { owner->fired(); });
}
