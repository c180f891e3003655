// SPDX-License-Identifier: GPL-3.0-or-later
#include "precisetimer.h"

PreciseTimer::PreciseTimer(QObject *parent)
    : QObject(parent)
    , m_waiter(makeWaiter(this)) {
    m_fallback.setSingleShot(true);
    m_fallback.setTimerType(Qt::PreciseTimer);
    connect(&m_fallback, &QTimer::timeout, this, &PreciseTimer::fired);
}

void PreciseTimer::fired() {
    if (!m_active)
        return; // a wake already under way when stopped
    m_active = false;
    emit timeout();
}

PreciseTimer::~PreciseTimer() = default;

void PreciseTimer::start(qint64 waitNs) {
    m_active = true;
    // Zero would disarm it; a wait the system refuses falls to Qt's timer
    // rather than never ending.
    if (!m_waiter || !m_waiter->arm(std::max<qint64>(1, waitNs)))
        m_fallback.start(int(std::max<qint64>(0, (waitNs + 999'999) / 1'000'000)));
}

void PreciseTimer::stop() {
    m_active = false;
    m_fallback.stop();
    if (m_waiter)
        m_waiter->arm(0);
}
