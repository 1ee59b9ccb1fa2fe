#include "ColumnReduction.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <array>
#include <map>
#include <vector>

// What the response chart draws of many points: in every pixel column, of
// each kind, at most two of the points, reaching exactly as low and as high
// as the column's points do.
class ColumnReductionTest : public QObject {
    Q_OBJECT
private slots:
    void drawsEachColumnsLowestAndHighest_data();
    void drawsEachColumnsLowestAndHighest();
};

namespace {

struct Point {
    double x;
    double y;
    Exchange::Outcome kind;
};

constexpr std::array<Exchange::Outcome, 3> kKinds = {
    Exchange::Outcome::Ok, Exchange::Outcome::Error, Exchange::Outcome::Lost};

} // namespace

void ColumnReductionTest::drawsEachColumnsLowestAndHighest_data()
{
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("columns");
    QTest::addColumn<double>("fromX");
    QTest::addColumn<double>("toX");
    QTest::addColumn<double>("spread"); // of x beyond [fromX, toX] on either side

    QTest::newRow("fewer points than columns") << 50 << 800 << 0.0 << 1000.0 << 0.0;
    QTest::newRow("a million points over 800 columns") << 1000000 << 800 << 0.0 << 1e6 << 0.0;
    QTest::newRow("times since 1970 in ms")
        << 100000 << 640 << 1.7146e12 << 1.7146e12 + 3.6e6 << 0.0;
    QTest::newRow("one column") << 1000 << 1 << 0.0 << 10.0 << 0.0;
    QTest::newRow("no width: everything in the first column") << 1000 << 300 << 5.0 << 5.0 << 0.0;
    QTest::newRow("points left and right of the range") << 20000 << 200 << 0.0 << 100.0 << 50.0;
}

void ColumnReductionTest::drawsEachColumnsLowestAndHighest()
{
    QFETCH(int, points);
    QFETCH(int, columns);
    QFETCH(double, fromX);
    QFETCH(double, toX);
    QFETCH(double, spread);

    QRandomGenerator random(42);
    std::vector<Point> data;
    ColumnReduction reduction(fromX, toX, columns);
    for (int i = 0; i < points; ++i) {
        const double x = fromX - spread + random.generateDouble() * (toX - fromX + 2 * spread);
        // Mostly tens of ms, now and then far above.
        const double y = random.bounded(100) == 0 ? 1000 * random.generateDouble()
                                                  : 40 + 20 * random.generateDouble();
        const Exchange::Outcome kind = kKinds[random.bounded(100) < 90 ? 0 : 1 + random.bounded(2)];
        data.push_back({x, y, kind});
        reduction.add(x, y, kind);
    }

    for (const Exchange::Outcome kind : kKinds) {
        // Each column's lowest and highest as the data has them...
        std::map<int, std::pair<double, double>> want;
        QSet<std::pair<double, double>> given;
        for (const Point &p : data) {
            if (p.kind != kind)
                continue;
            given.insert({p.x, p.y});
            const int c = reduction.column(p.x);
            auto [it, fresh] = want.try_emplace(c, p.y, p.y);
            it->second = {std::min(it->second.first, p.y), std::max(it->second.second, p.y)};
        }
        // ... and as drawn: points of the data, in the order of x, at most two a column.
        const QList<QPointF> drawn = reduction.points(kind);
        std::map<int, std::pair<double, double>> got;
        std::map<int, int> perColumn;
        for (qsizetype i = 0; i < drawn.size(); ++i) {
            const QPointF &p = drawn[i];
            QVERIFY2(given.contains({p.x(), p.y()}),
                     qPrintable(QStringLiteral("(%1, %2) is no point of the data")
                                    .arg(p.x(), 0, 'g', 17)
                                    .arg(p.y())));
            QVERIFY(i == 0 || drawn[i - 1].x() <= p.x());
            const int c = reduction.column(p.x());
            QVERIFY2(++perColumn[c] <= 2, qPrintable(QStringLiteral("column %1").arg(c)));
            auto [it, fresh] = got.try_emplace(c, p.y(), p.y());
            it->second = {std::min(it->second.first, p.y()), std::max(it->second.second, p.y())};
        }
        QCOMPARE(got.size(), want.size());
        for (const auto &[c, range] : want) {
            const auto drawnRange = got.find(c);
            QVERIFY2(drawnRange != got.end() && drawnRange->second == range,
                     qPrintable(QStringLiteral("column %1: the data reaches from %2 to %3")
                                    .arg(c)
                                    .arg(range.first)
                                    .arg(range.second)));
        }
    }
}

QTEST_GUILESS_MAIN(ColumnReductionTest)
#include "tst_ColumnReduction.moc"
