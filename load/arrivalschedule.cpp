// SPDX-License-Identifier: GPL-3.0-or-later
#include "arrivalschedule.h"

#include <algorithm>
#include <cmath>

ArrivalSchedule::ArrivalSchedule(const RatePlan &plan)
    : m_plan(plan)
    , m_random(plan.seed) {}

qint64 ArrivalSchedule::nextUs() {
    // Arrivals are spaced in "expected arrivals", then turned into time, so
    // a ramp and Poisson gaps combine without special cases.
    if (m_plan.poisson)
        m_arrivals += m_gap(m_random);
    const double seconds = secondsForArrivals(m_arrivals);
    if (!m_plan.poisson)
        m_arrivals += 1.0;
    if (seconds < 0.0)
        return kNever;
    return qint64(std::llround(seconds * 1e6));
}

double ArrivalSchedule::arrivalsBy(double seconds) const {
    const double r0 = m_plan.startPerSecond;
    const double r1 = m_plan.endPerSecond;
    const double ramp = m_plan.rampSeconds;
    if (seconds <= 0.0)
        return 0.0;
    if (seconds <= ramp)
        return r0 * seconds + (r1 - r0) * seconds * seconds / (2.0 * ramp);
    return ramp * (r0 + r1) / 2.0 + (seconds - ramp) * r1;
}

double ArrivalSchedule::secondsForArrivals(double arrivals) const {
    const double r0 = m_plan.startPerSecond;
    const double r1 = m_plan.endPerSecond;
    const double ramp = m_plan.rampSeconds;
    const double duringRamp = ramp * (r0 + r1) / 2.0;
    if (ramp > 0.0 && arrivals <= duringRamp) {
        // arrivals = r0 t + (r1 - r0) t^2 / (2 ramp), solved for t.
        const double a = (r1 - r0) / (2.0 * ramp);
        if (std::abs(a) < 1e-12)
            return r0 > 0.0 ? arrivals / r0 : -1.0;
        const double root = std::sqrt(std::max(0.0, r0 * r0 + 4.0 * a * arrivals));
        return (-r0 + root) / (2.0 * a);
    }
    if (r1 <= 0.0)
        return -1.0;
    return std::max(0.0, ramp) + (arrivals - (ramp > 0.0 ? duringRamp : 0.0)) / r1;
}
