// SPDX-License-Identifier: GPL-3.0-or-later
#include "latencyhistogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// 2048 exact slots, then 1024 slots per doubling: a bucket is at most
// 1/1024 of its value wide, which keeps three significant digits.
constexpr int kSubBucketBits = 11;
constexpr int kHalfSubBuckets = 1 << (kSubBucketBits - 1);

int bucketOf(qint64 us) {
    const int magnitude = std::bit_width(quint64(us)); // bits in use
    return std::max(0, magnitude - kSubBucketBits);
}

} // namespace

LatencyHistogram::LatencyHistogram()
    : m_counts(size_t(indexOf(kMaxTrackableUs) + 1), 0) {}

int LatencyHistogram::indexOf(qint64 us) {
    const int bucket = bucketOf(us);
    return kHalfSubBuckets * bucket + int(us >> bucket);
}

qint64 LatencyHistogram::highestEquivalent(int index) {
    const int bucket = index < 2 * kHalfSubBuckets ? 0 : index / kHalfSubBuckets - 1;
    const qint64 sub = index - qint64(kHalfSubBuckets) * bucket;
    return ((sub + 1) << bucket) - 1;
}

void LatencyHistogram::record(qint64 us) {
    us = std::clamp<qint64>(us, 0, kMaxTrackableUs);
    ++m_counts[size_t(indexOf(us))];
    ++m_count;
    m_max = std::max(m_max, us);
}

void LatencyHistogram::add(const LatencyHistogram &other) {
    for (size_t i = 0; i < m_counts.size(); ++i)
        m_counts[i] += other.m_counts[i];
    m_count += other.m_count;
    m_max = std::max(m_max, other.m_max);
}

void LatencyHistogram::reset() {
    if (m_count == 0)
        return;
    std::fill(m_counts.begin(), m_counts.end(), 0);
    m_count = 0;
    m_max = 0;
}

qint64 LatencyHistogram::valueAtPercentile(double percent) const {
    if (m_count == 0)
        return 0;
    const double wanted = std::clamp(percent, 0.0, 100.0) / 100.0 * double(m_count);
    // The tolerance keeps 99.9 % of 1000 at 999, not 1000 by a rounding error.
    const qint64 rank = std::max<qint64>(1, qint64(std::ceil(wanted - 1e-6)));
    qint64 seen = 0;
    for (size_t i = 0; i < m_counts.size(); ++i) {
        seen += m_counts[i];
        if (seen >= rank)
            return std::min(highestEquivalent(int(i)), m_max);
    }
    return m_max;
}
