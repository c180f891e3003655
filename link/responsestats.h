// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "latencyhistogram.h"

#include <QString>
#include <QtGlobal>

// Response times of a run: the percentiles from a LatencyHistogram (three
// significant digits), count, minimum, maximum and sum exact. Memory does not
// grow with the run.
class ResponseStats {
public:
    void add(qint64 usec);
    void merge(const ResponseStats &other);
    qint64 count() const { return m_histogram.count(); }
    qint64 minUs() const { return m_min; }
    qint64 maxUs() const { return m_histogram.max(); }
    double meanUs() const;
    // Nearest-rank percentile, p from 0 to 100 (median = 50); 0 when empty.
    qint64 percentileUs(double p) const;
    // "Type 4: 37 responses, median 11.9 ms, p95 15.0 ms, max 40.1 ms"
    QString summary(const QString &label) const;

private:
    LatencyHistogram m_histogram;
    qint64 m_sum = 0;
    qint64 m_min = 0;
};
