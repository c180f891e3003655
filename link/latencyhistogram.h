// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <vector>

// Counts durations in microseconds from 1 us to an hour with three
// significant digits: values below 2048 us are kept exactly, larger ones in
// buckets no wider than 1/1024 of their value. Memory is fixed (about 200
// KB), whatever the number of values.
class LatencyHistogram {
public:
    static constexpr qint64 kMaxTrackableUs = 3'600'000'000;

    LatencyHistogram();

    // A value over an hour counts as an hour; a negative one as 0.
    void record(qint64 us);
    void add(const LatencyHistogram &other);
    void reset();

    qint64 count() const { return m_count; }
    qint64 max() const { return m_max; }
    // The smallest value that at least percent % of the values do not
    // exceed, as the top of its bucket (never above max()); 0 when empty.
    qint64 valueAtPercentile(double percent) const;

private:
    static int indexOf(qint64 us);
    static qint64 highestEquivalent(int index);

    std::vector<qint64> m_counts;
    qint64 m_count = 0;
    qint64 m_max = 0;
};
