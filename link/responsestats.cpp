// SPDX-License-Identifier: GPL-3.0-or-later
#include "responsestats.h"

#include <algorithm>
#include <bit>
#include <cmath>

int ResponseStats::bucketOf(qint64 usec) {
    if (usec < kExactBelow)
        return static_cast<int>(usec);
    const int exponent = 63 - std::countl_zero(static_cast<quint64>(usec));
    if (exponent >= kTopExponent)
        return kBucketCount - 1;
    const int shift = exponent - kSubBucketBits;
    const int sub = static_cast<int>((usec >> shift) - (qint64(1) << kSubBucketBits));
    return kExactBelow + (exponent - kExactBits) * (1 << kSubBucketBits) + sub;
}

qint64 ResponseStats::bucketMiddle(int bucket) {
    if (bucket < kExactBelow)
        return bucket;
    const int offset = bucket - kExactBelow;
    const int exponent = kExactBits + offset / (1 << kSubBucketBits);
    const int sub = offset % (1 << kSubBucketBits);
    const int shift = exponent - kSubBucketBits;
    const qint64 low = (qint64(1 << kSubBucketBits) + sub) << shift;
    const qint64 width = qint64(1) << shift;
    return low + (width - 1) / 2;
}

void ResponseStats::add(qint64 usec) {
    usec = std::max<qint64>(usec, 0);
    ++m_buckets[static_cast<size_t>(bucketOf(usec))];
    m_min = m_count == 0 ? usec : std::min(m_min, usec);
    m_max = m_count == 0 ? usec : std::max(m_max, usec);
    m_sum += usec;
    ++m_count;
}

void ResponseStats::merge(const ResponseStats &other) {
    if (other.m_count == 0)
        return;
    for (size_t i = 0; i < m_buckets.size(); ++i)
        m_buckets[i] += other.m_buckets[i];
    m_min = m_count == 0 ? other.m_min : std::min(m_min, other.m_min);
    m_max = m_count == 0 ? other.m_max : std::max(m_max, other.m_max);
    m_sum += other.m_sum;
    m_count += other.m_count;
}

double ResponseStats::meanUs() const {
    return m_count == 0 ? 0.0 : static_cast<double>(m_sum) / static_cast<double>(m_count);
}

qint64 ResponseStats::percentileUs(double p) const {
    if (m_count == 0)
        return 0;
    if (p <= 0.0)
        return m_min;
    if (p >= 100.0)
        return m_max;
    // Multiply before dividing so that, say, 95 of 100 is exactly rank 95.
    const auto rank = std::max<qint64>(
        1, static_cast<qint64>(std::ceil(p * static_cast<double>(m_count) / 100.0 - 1e-9)));
    qint64 seen = 0;
    for (int bucket = 0; bucket < kBucketCount; ++bucket) {
        seen += m_buckets[static_cast<size_t>(bucket)];
        if (seen >= rank)
            return std::clamp(bucketMiddle(bucket), m_min, m_max);
    }
    return m_max;
}

QString ResponseStats::summary(const QString &label) const {
    const auto ms = [](qint64 usec) {
        return QString::number(usec / 1000.0, 'f', 1);
    };
    QString text = label + QStringLiteral(": ") + QString::number(m_count) +
                   (m_count == 1 ? QStringLiteral(" response") : QStringLiteral(" responses"));
    if (m_count == 0)
        return text;
    return text + QStringLiteral(", median ") + ms(percentileUs(50)) + QStringLiteral(" ms, p95 ") +
           ms(percentileUs(95)) + QStringLiteral(" ms, max ") + ms(maxUs()) + QStringLiteral(" ms");
}
