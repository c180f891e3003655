#include "responsestats.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// The nearest-rank percentile of the samples, computed the slow way.
qint64 exactPercentile(QList<qint64> samples, double p) {
    std::sort(samples.begin(), samples.end());
    const auto rank = std::max<qint64>(1, qint64(std::ceil(p * double(samples.size()) / 100.0)));
    return samples.at(rank - 1);
}

QList<qint64> series(qint64 first, qint64 step, int count) {
    QList<qint64> samples;
    for (int i = 0; i < count; ++i)
        samples.append(first + step * i);
    return samples;
}

QList<qint64> geometric(double first, double factor, int count) {
    QList<qint64> samples;
    for (int i = 0; i < count; ++i)
        samples.append(qint64(first * std::pow(factor, i)));
    return samples;
}

ResponseStats statsOf(const QList<qint64> &samples) {
    ResponseStats stats;
    for (const qint64 sample : samples)
        stats.add(sample);
    return stats;
}

} // namespace

class TestResponseStats : public QObject {
    Q_OBJECT

private slots:
    void percentilesWithinOnePercent_data() {
        QTest::addColumn<QList<qint64>>("samples");
        QTest::newRow("1 to 100 us") << series(1, 1, 100);
        QTest::newRow("one sample") << QList<qint64>{12345};
        QTest::newRow("zeros") << QList<qint64>{0, 0, 0};
        QTest::newRow("milliseconds") << series(1000, 997, 1000);
        QTest::newRow("1 us to an hour") << geometric(1, 1.025, 900);
        QTest::newRow("one slow outlier") << series(11900, 13, 99) + QList<qint64>{3'600'000'000};
        QTest::newRow("unsorted") << QList<qint64>{900, 5, 70000, 130, 129, 128, 127, 2'000'000};
    }

    void percentilesWithinOnePercent() {
        QFETCH(QList<qint64>, samples);
        const ResponseStats stats = statsOf(samples);
        QCOMPARE(stats.count(), qint64(samples.size()));
        QCOMPARE(stats.minUs(), *std::min_element(samples.begin(), samples.end()));
        QCOMPARE(stats.maxUs(), *std::max_element(samples.begin(), samples.end()));
        QCOMPARE(stats.meanUs(),
                 std::accumulate(samples.begin(), samples.end(), 0.0) / double(samples.size()));
        for (const double p : {1.0, 25.0, 50.0, 90.0, 95.0, 99.0, 99.9}) {
            const qint64 exact = exactPercentile(samples, p);
            const qint64 got = stats.percentileUs(p);
            if (std::abs(double(got - exact)) > 0.01 * std::max(1.0, double(exact)))
                QFAIL(qPrintable(QStringLiteral("p%1: %2 for %3").arg(p).arg(got).arg(exact)));
        }
        QCOMPARE(stats.percentileUs(0), stats.minUs());
        QCOMPARE(stats.percentileUs(100), stats.maxUs());
    }

    void emptyAndNegative() {
        const ResponseStats empty;
        QCOMPARE(empty.count(), qint64(0));
        QCOMPARE(empty.percentileUs(50), qint64(0));
        QCOMPARE(empty.meanUs(), 0.0);
        const ResponseStats negative = statsOf({-5}); // counts as zero
        QCOMPARE(negative.minUs(), qint64(0));
        QCOMPARE(negative.percentileUs(50), qint64(0));
    }

    void mergeEqualsAddingEverything() {
        const QList<qint64> samples = geometric(50, 1.1, 120);
        ResponseStats merged;
        merged.merge(statsOf(samples.mid(0, 70)));
        merged.merge(statsOf(samples.mid(70)));
        merged.merge(ResponseStats());
        const ResponseStats all = statsOf(samples);
        QCOMPARE(merged.count(), all.count());
        QCOMPARE(merged.minUs(), all.minUs());
        QCOMPARE(merged.maxUs(), all.maxUs());
        QCOMPARE(merged.meanUs(), all.meanUs());
        for (const double p : {50.0, 95.0, 99.0})
            QCOMPARE(merged.percentileUs(p), all.percentileUs(p));
    }

    void summary_data() {
        QTest::addColumn<QList<qint64>>("samples");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, const QList<qint64> &samples, const char *text) {
            QTest::newRow(name) << samples << QStringLiteral("Type 4: ") + QLatin1String(text);
        };
        row("none", {}, "0 responses");
        row("one", {40100}, "1 response, median 40.1 ms, p95 40.1 ms, max 40.1 ms");
        row("several", {12000, 12000, 12000, 12000, 40100},
            "5 responses, median 12.0 ms, p95 40.1 ms, max 40.1 ms");
    }

    void summary() {
        QFETCH(QList<qint64>, samples);
        QFETCH(QString, text);
        QCOMPARE(statsOf(samples).summary(QStringLiteral("Type 4")), text);
    }
};

QTEST_GUILESS_MAIN(TestResponseStats)
#include "tst_responsestats.moc"
