// The chart window's round axis ends and histogram bars, without a window:
// the boundaries of each rounding, and every kept time in the bar its
// bucket's middle falls in.
#include "ChartScales.h"
#include "TimeHistogram.h"

#include <QMap>
#include <QTest>

#include <algorithm>

#include <limits>
#include <numeric>

namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kDay = 24 * 60 * 60 * kSecond;
constexpr qint64 kYear = 365 * kDay;
constexpr int kBars = 50;

// Bar -> its count; the bars not named are empty.
using BarCounts = QMap<int, int>;

} // namespace

class ChartScalesTest : public QObject {
    Q_OBJECT
private slots:
    void roundUpGivesTheNextRoundNumber_data();
    void roundUpGivesTheNextRoundNumber();
    void roundSpanHoldsTheTime_data();
    void roundSpanHoldsTheTime();
    void barsCountEachBucketWhereItsMiddleFalls_data();
    void barsCountEachBucketWhereItsMiddleFalls();
    void outlineRisesAcrossEachBarAndFallsAtTheEnd_data();
    void outlineRisesAcrossEachBarAndFallsAtTheEnd();
};

void ChartScalesTest::roundUpGivesTheNextRoundNumber_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");

    QTest::newRow("zero") << 0.0 << 1.0;
    QTest::newRow("negative") << -5.0 << 1.0;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 1.0;
    QTest::newRow("one") << 1.0 << 1.0;
    QTest::newRow("exact power of ten") << 1000.0 << 1000.0;
    QTest::newRow("exact power of ten below one") << 0.001 << 0.001;
    QTest::newRow("just above a power of ten") << 100.0001 << 150.0;
    QTest::newRow("just below a power of ten") << 99.99 << 100.0;
    QTest::newRow("exactly a step") << 6000.0 << 6000.0;
    QTest::newRow("between steps") << 6.1 << 8.0;
    QTest::newRow("between steps below one") << 0.07 << 0.08;
    QTest::newRow("above the last step") << 8.5 << 10.0;
    QTest::newRow("huge") << 3.5e300 << 4e300;
    QTest::newRow("tiny") << 2.5e-300 << 3e-300;
}

void ChartScalesTest::roundUpGivesTheNextRoundNumber()
{
    QFETCH(double, value);
    QFETCH(double, rounded);

    QCOMPARE(ChartScales::roundUp(value), rounded);
}

void ChartScalesTest::roundSpanHoldsTheTime_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<qint64>("span");

    QTest::newRow("zero") << qint64(0) << 10 * kSecond;
    QTest::newRow("negative, the clock set back") << -5 * kSecond << 10 * kSecond;
    QTest::newRow("exactly ten seconds") << 10 * kSecond << 10 * kSecond;
    QTest::newRow("just above ten seconds") << 10 * kSecond + 1 << 20 * kSecond;
    QTest::newRow("just above a minute") << 60 * kSecond + 1 << 120 * kSecond;
    QTest::newRow("exactly a day") << kDay << kDay;
    QTest::newRow("just above a week") << 7 * kDay + 1 << 14 * kDay;
    QTest::newRow("just above 180 days") << 180 * kDay + 1 << kYear;
    QTest::newRow("exactly a year") << kYear << kYear;
    QTest::newRow("just above a year") << kYear + 1 << 2 * kYear;
    QTest::newRow("a thousand years and a bit") << 1000 * kYear + 1 << 1001 * kYear;
}

void ChartScalesTest::roundSpanHoldsTheTime()
{
    QFETCH(qint64, ms);
    QFETCH(qint64, span);

    QCOMPARE(ChartScales::roundSpanMs(ms), span);
}

void ChartScalesTest::barsCountEachBucketWhereItsMiddleFalls_data()
{
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<BarCounts>("counts");

    QTest::newRow("no times") << QList<double>{} << BarCounts{};
    // One bucket spans the whole range: its middle is the middle bar's low edge.
    QTest::newRow("one time") << QList<double>{5.0} << BarCounts{{kBars / 2, 1}};
    QTest::newRow("one time kept thrice")
        << QList<double>{2.0, 2.0, 2.0} << BarCounts{{kBars / 2, 3}};
    QTest::newRow("lowest and highest in the end bars")
        << QList<double>{1.0, 100.0} << BarCounts{{0, 1}, {kBars - 1, 1}};
    QTest::newRow("a time in between")
        << QList<double>{1.0, 50.0, 50.0, 100.0} << BarCounts{{0, 1}, {24, 2}, {kBars - 1, 1}};
    QTest::newRow("beyond the buckets at both ends")
        << QList<double>{1e-9, 1e12} << BarCounts{{0, 1}, {kBars - 1, 1}};
}

void ChartScalesTest::barsCountEachBucketWhereItsMiddleFalls()
{
    QFETCH(QList<double>, times);
    QFETCH(BarCounts, counts);

    TimeHistogram histogram;
    for (double ms : times)
        histogram.add(ms);
    const ChartScales::Bars bars = ChartScales::bars(histogram, kBars);

    QCOMPARE(bars.counts.size(), std::size_t(kBars));
    QList<int> expected(kBars, 0);
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        expected[it.key()] = it.value();
    QList<int> got;
    for (std::uint64_t count : bars.counts)
        got << int(count);
    QCOMPARE(got, expected);
    QCOMPARE(std::accumulate(bars.counts.begin(), bars.counts.end(), std::uint64_t(0)),
             std::uint64_t(times.size()));

    // From the low end of the lowest bucket used to the top of the highest.
    if (times.isEmpty()) {
        QCOMPARE(bars.lowMs, 0.0);
        QCOMPARE(bars.highMs, 1.0);
    } else {
        const auto [lowest, highest] = std::minmax_element(times.begin(), times.end());
        QCOMPARE(bars.lowMs, TimeHistogram::lowMs(TimeHistogram::bucketOf(*lowest)));
        QCOMPARE(bars.highMs, TimeHistogram::lowMs(TimeHistogram::bucketOf(*highest) + 1));
    }
}

void ChartScalesTest::outlineRisesAcrossEachBarAndFallsAtTheEnd_data()
{
    QTest::addColumn<double>("lowMs");
    QTest::addColumn<double>("highMs");
    QTest::addColumn<QList<double>>("counts");
    QTest::addColumn<QList<QPointF>>("outline");

    QTest::newRow("two bars") << 0.0 << 2.0 << QList<double>{3, 1}
                              << QList<QPointF>{{0, 0}, {0, 3}, {1, 3}, {1, 1}, {2, 1}, {2, 0}};
    QTest::newRow("empty bar between, off zero")
        << 10.0 << 16.0 << QList<double>{1, 0, 2}
        << QList<QPointF>{{10, 0}, {10, 1}, {12, 1}, {12, 0}, {14, 0}, {14, 2}, {16, 2}, {16, 0}};
}

void ChartScalesTest::outlineRisesAcrossEachBarAndFallsAtTheEnd()
{
    QFETCH(double, lowMs);
    QFETCH(double, highMs);
    QFETCH(QList<double>, counts);
    QFETCH(QList<QPointF>, outline);

    ChartScales::Bars bars;
    bars.lowMs = lowMs;
    bars.highMs = highMs;
    for (double count : counts)
        bars.counts.push_back(std::uint64_t(count));
    QCOMPARE(ChartScales::outline(bars), outline);
}

QTEST_GUILESS_MAIN(ChartScalesTest)
#include "tst_ChartScales.moc"
