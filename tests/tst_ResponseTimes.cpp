#include "ResponseTimes.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>

// The summary's figures: exact percentiles for a run of ordinary length,
// within 0.1% for one too long to keep every time.
class ResponseTimesTest : public QObject {
    Q_OBJECT
private slots:
    void exactPercentiles_data();
    void exactPercentiles();
    void longRunStaysWithinATenthOfAPercent_data();
    void longRunStaysWithinATenthOfAPercent();
};

void ResponseTimesTest::exactPercentiles_data()
{
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<QList<double>>("p50p95p99");

    QTest::newRow("one time") << QList<double>{50.4} << QList<double>{50.4, 50.4, 50.4};
    QTest::newRow("four times, out of order")
        << QList<double>{4, 1, 3, 2} << QList<double>{2, 4, 4};
    QList<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.append(i / 10.0);
    // The 95th of 100 is the 95th smallest, exactly: no rounding up to the 96th.
    QTest::newRow("1 to 100, reversed") << hundred << QList<double>{5.0, 9.5, 9.9};
    QTest::newRow("one slow reply in twenty")
        << QList<double>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 900}
        << QList<double>{1, 1, 900};
}

void ResponseTimesTest::exactPercentiles()
{
    QFETCH(QList<double>, times);
    QFETCH(QList<double>, p50p95p99);

    ResponseTimes responses;
    for (double t : times)
        responses.add(t);
    QCOMPARE(responses.count(), std::uint64_t(times.size()));
    QCOMPARE(responses.min(), *std::min_element(times.begin(), times.end()));
    QCOMPARE(responses.max(), *std::max_element(times.begin(), times.end()));
    QCOMPARE(responses.percentile(50), p50p95p99[0]);
    QCOMPARE(responses.percentile(95), p50p95p99[1]);
    QCOMPARE(responses.percentile(99), p50p95p99[2]);
}

void ResponseTimesTest::longRunStaysWithinATenthOfAPercent_data()
{
    QTest::addColumn<double>("typicalMs");
    QTest::addColumn<double>("spread"); // of the natural logarithm

    QTest::newRow("precise pseudo-terminal, about 0.2 ms") << 0.2 << 0.8;
    QTest::newRow("polled, about 50 ms") << 50.0 << 0.05;
    QTest::newRow("slow radio modem, seconds") << 3000.0 << 1.5;
}

void ResponseTimesTest::longRunStaysWithinATenthOfAPercent()
{
    QFETCH(double, typicalMs);
    QFETCH(double, spread);

    QRandomGenerator random(20240501);
    std::vector<double> all;
    ResponseTimes responses;
    const std::size_t n = ResponseTimes::kExactLimit * 3;
    for (std::size_t i = 0; i < n; ++i) {
        // Log-normal, from two uniform numbers (Box-Muller).
        const double u1 = 1.0 - random.generateDouble();
        const double u2 = random.generateDouble();
        const double normal = std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2);
        const double t = typicalMs * std::exp(spread * normal);
        all.push_back(t);
        responses.add(t);
    }
    std::sort(all.begin(), all.end());
    for (double p : {50.0, 95.0, 99.0, 100.0}) {
        const double exact = all[std::size_t(std::ceil(p * double(n) / 100.0)) - 1];
        const double got = responses.percentile(p);
        QVERIFY2(
            std::abs(got - exact) <= exact * 0.001,
            qPrintable(QStringLiteral("p%1: %2 ms, exactly %3 ms").arg(p).arg(got).arg(exact)));
    }
    QCOMPARE(responses.max(), all.back());
}

QTEST_GUILESS_MAIN(ResponseTimesTest)
#include "tst_ResponseTimes.moc"
