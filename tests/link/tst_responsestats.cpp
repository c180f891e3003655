#include "responsestats.h"

#include <QTest>

#include <algorithm>
#include <cmath>

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
        ResponseStats stats;
        for (const qint64 sample : samples)
            stats.add(sample);

        QCOMPARE(stats.count(), qint64(samples.size()));
        QCOMPARE(stats.minUs(), *std::min_element(samples.begin(), samples.end()));
        QCOMPARE(stats.maxUs(), *std::max_element(samples.begin(), samples.end()));
        double sum = 0;
        for (const qint64 sample : samples)
            sum += double(sample);
        QCOMPARE(stats.meanUs(), sum / double(samples.size()));
        for (const double p : {1.0, 25.0, 50.0, 90.0, 95.0, 99.0, 99.9}) {
            const qint64 exact = exactPercentile(samples, p);
            const qint64 got = stats.percentileUs(p);
            const double error = std::abs(double(got - exact)) / std::max(1.0, double(exact));
            if (error > 0.01)
                QFAIL(qPrintable(QStringLiteral("p%1: %2 for %3").arg(p).arg(got).arg(exact)));
        }
        QCOMPARE(stats.percentileUs(0), stats.minUs());
        QCOMPARE(stats.percentileUs(100), stats.maxUs());
    }

    void smallValuesAreExact() {
        ResponseStats stats;
        for (const qint64 sample : series(1, 1, 100))
            stats.add(sample);
        QCOMPARE(stats.percentileUs(50), qint64(50));
        QCOMPARE(stats.percentileUs(95), qint64(95));
        QCOMPARE(stats.percentileUs(99), qint64(99));
        QCOMPARE(stats.meanUs(), 50.5);
    }

    void emptyStatsReportZero() {
        const ResponseStats stats;
        QCOMPARE(stats.count(), qint64(0));
        QCOMPARE(stats.percentileUs(50), qint64(0));
        QCOMPARE(stats.meanUs(), 0.0);
        QCOMPARE(stats.minUs(), qint64(0));
    }

    void negativeTimesCountAsZero() {
        ResponseStats stats;
        stats.add(-5);
        QCOMPARE(stats.minUs(), qint64(0));
        QCOMPARE(stats.percentileUs(50), qint64(0));
    }

    void mergeEqualsAddingEverything() {
        ResponseStats a;
        ResponseStats b;
        ResponseStats all;
        for (const qint64 sample : geometric(50, 1.1, 120)) {
            ((sample % 2) ? a : b).add(sample);
            all.add(sample);
        }
        ResponseStats empty;
        empty.merge(a);
        empty.merge(b);
        QCOMPARE(empty.count(), all.count());
        QCOMPARE(empty.minUs(), all.minUs());
        QCOMPARE(empty.maxUs(), all.maxUs());
        QCOMPARE(empty.meanUs(), all.meanUs());
        for (const double p : {50.0, 95.0, 99.0})
            QCOMPARE(empty.percentileUs(p), all.percentileUs(p));
        a.merge(ResponseStats());
        QVERIFY(a.count() > 0);
    }

    void summary_data() {
        QTest::addColumn<QList<qint64>>("samples");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << QList<qint64>{} << QStringLiteral("Type 4: 0 responses");
        QTest::newRow("one") << QList<qint64>{40100}
                             << QStringLiteral(
                                    "Type 4: 1 response, median 40.1 ms, p95 40.1 ms, max 40.1 ms");
        QTest::newRow("several")
            << QList<qint64>{12000, 12000, 12000, 12000, 40100}
            << QStringLiteral("Type 4: 5 responses, median 12.0 ms, p95 40.1 ms, max 40.1 ms");
    }

    void summary() {
        QFETCH(QList<qint64>, samples);
        QFETCH(QString, text);
        ResponseStats stats;
        for (const qint64 sample : samples)
            stats.add(sample);
        QCOMPARE(stats.summary(QStringLiteral("Type 4")), text);
    }
};

QTEST_GUILESS_MAIN(TestResponseStats)
#include "tst_responsestats.moc"
