// SPDX-License-Identifier: GPL-3.0-or-later
#include "responsestats.h"

#include <algorithm>

void ResponseStats::add(qint64 usec) {
    usec = std::clamp<qint64>(usec, 0, LatencyHistogram::kMaxTrackableUs);
    m_min = count() == 0 ? usec : std::min(m_min, usec);
    m_sum += usec;
    m_histogram.record(usec);
}

void ResponseStats::merge(const ResponseStats &other) {
    if (other.count() == 0)
        return;
    m_min = count() == 0 ? other.m_min : std::min(m_min, other.m_min);
    m_sum += other.m_sum;
    m_histogram.add(other.m_histogram);
}

double ResponseStats::meanUs() const {
    return count() == 0 ? 0.0 : static_cast<double>(m_sum) / static_cast<double>(count());
}

qint64 ResponseStats::percentileUs(double p) const {
    if (count() == 0)
        return 0;
    if (p <= 0.0)
        return m_min;
    return std::max(m_histogram.valueAtPercentile(p), m_min);
}

QString ResponseStats::summary(const QString &label) const {
    const auto ms = [](qint64 usec) {
        return QString::number(usec / 1000.0, 'f', 1);
    };
    QString text = label + QStringLiteral(": ") + QString::number(count()) +
                   (count() == 1 ? QStringLiteral(" response") : QStringLiteral(" responses"));
    if (count() == 0)
        return text;
    return text + QStringLiteral(", median ") + ms(percentileUs(50)) + QStringLiteral(" ms, p95 ") +
           ms(percentileUs(95)) + QStringLiteral(" ms, max ") + ms(maxUs()) + QStringLiteral(" ms");
}
