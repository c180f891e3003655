// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

// Response times of a run in a histogram of fixed size: exact below 128 µs,
// then 64 buckets per power of two, so any percentile is within 1% of the
// true sample. Count, minimum, maximum and sum are exact. Memory does not
// grow with the run.
class ResponseStats {
public:
    void add(qint64 usec);
    void merge(const ResponseStats &other);

    qint64 count() const { return m_count; }
    qint64 minUs() const { return m_min; }
    qint64 maxUs() const { return m_max; }
    double meanUs() const;
    // Nearest-rank percentile, p from 0 to 100 (median = 50); 0 when empty.
    qint64 percentileUs(double p) const;

    // "Type 4: 37 responses, median 11.9 ms, p95 15.0 ms, max 40.1 ms"
    QString summary(const QString &label) const;

private:
    static constexpr int kExactBelow = 128;  // µs values kept exactly
    static constexpr int kExactBits = 7;     // log2(kExactBelow)
    static constexpr int kSubBucketBits = 6; // 64 buckets per power of two
    static constexpr int kTopExponent = 42;  // 2^42 µs, about 50 days; above is clamped
    static constexpr int kBucketCount =
        kExactBelow + (kTopExponent - kExactBits) * (1 << kSubBucketBits);

    static int bucketOf(qint64 usec);
    static qint64 bucketMiddle(int bucket);

    std::array<qint64, kBucketCount> m_buckets{};
    qint64 m_count = 0;
    qint64 m_sum = 0;
    qint64 m_min = 0;
    qint64 m_max = 0;
};
