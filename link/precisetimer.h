// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

// A single-shot timer that fires within microseconds of its due time. Qt's
// own timers wait in whole milliseconds, rounded up at every turn of the
// loop, so on a busy loop they fire up to a millisecond late: too coarse for
// a reply due 50 ms after its frame or a send due every millisecond. Where
// the system has no finer wait, a Qt timer stands in.
class PreciseTimer : public QObject {
    Q_OBJECT
public:
    explicit PreciseTimer(QObject *parent = nullptr);
    ~PreciseTimer() override;

    // Fires once, waitNs from now (at once when zero or less); a pending wait
    // is replaced.
    void start(qint64 waitNs);
    void stop();
    bool isActive() const { return m_active; }
    bool isFine() const { return m_waiter != nullptr; } // false: whole milliseconds

    // The system's wait, in precisetimer_posix.cpp / _win.cpp; none where
    // the system has no finer wait than Qt's.
    class Waiter {
    public:
        virtual ~Waiter() = default;
        // Zero disarms; false when the system refused the wait.
        virtual bool arm(qint64 waitNs) = 0;
    };

signals:
    void timeout();

private:
    static std::unique_ptr<Waiter> makeWaiter(PreciseTimer *owner);
    void fired();

    std::unique_ptr<Waiter> m_waiter;
    QTimer m_fallback;
    bool m_active = false;
};
