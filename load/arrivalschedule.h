// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <random>

// When the arrivals of an open-loop run fall due. The rate goes in a
// straight line from startPerSecond to endPerSecond over rampSeconds, then
// stays at endPerSecond (a constant rate has both the same and no ramp).
// Constant arrivals are evenly spaced; Poisson arrivals have exponential
// gaps with the same mean, from a seeded generator so a run can be repeated.
struct RatePlan {
    double startPerSecond = 10.0;
    double endPerSecond = 10.0;
    double rampSeconds = 0.0;
    bool poisson = false;
    quint64 seed = 1;
};

class ArrivalSchedule {
public:
    static constexpr qint64 kNever = -1;

    explicit ArrivalSchedule(const RatePlan &plan);

    // Microseconds from the start to the next arrival; kNever when the rate
    // has fallen to nothing for good.
    qint64 nextUs();
    // The arrivals the plan has due from the start to that moment (for
    // Poisson arrivals, their mean).
    double arrivalsBy(double seconds) const;

private:
    // The moment by which `arrivals` arrivals are due on average, or a
    // negative number when never.
    double secondsForArrivals(double arrivals) const;

    RatePlan m_plan;
    double m_arrivals = 0.0; // expected arrivals up to the next one
    std::mt19937_64 m_random;
    std::exponential_distribution<double> m_gap{1.0};
};
