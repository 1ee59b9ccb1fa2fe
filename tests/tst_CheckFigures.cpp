#include "CheckFigures.h"

#include "ExchangeRecord.h"

#include <QMap>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <vector>

// The command line's figures of a check: exact percentiles for a run of
// ordinary length and a long one, and the same figures as the window's
// chart reports for the same exchanges.
class CheckFiguresTest : public QObject {
    Q_OBJECT
private slots:
    void exactPercentiles_data();
    void exactPercentiles();
    void longRunStaysWithinATenthOfAPercent_data();
    void longRunStaysWithinATenthOfAPercent();
    void summaryAgreesWithTheWindow_data();
    void summaryAgreesWithTheWindow();
};

namespace {

Exchange exchangeOf(double ms, Exchange::Outcome outcome = Exchange::Outcome::Ok)
{
    static std::uint64_t sequence = 0;
    Exchange exchange;
    exchange.sequence = ++sequence;
    exchange.at = QDateTime::fromMSecsSinceEpoch(1714600000000 + qint64(sequence) * 100, Qt::UTC);
    exchange.responseMs = ms;
    exchange.outcome = outcome;
    if (outcome == Exchange::Outcome::Error)
        exchange.received = QStringLiteral("ABB");
    return exchange;
}

// Log-normal around `typicalMs`, from two uniform numbers (Box-Muller).
double logNormal(QRandomGenerator &random, double typicalMs, double spread)
{
    const double u1 = 1.0 - random.generateDouble();
    const double u2 = random.generateDouble();
    const double normal = std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2);
    return typicalMs * std::exp(spread * normal);
}

// The summary's lines by name: "p95        50.995 ms" as {"p95", "50.995 ms"}.
QMap<QString, QString> linesByName(const QString &summary)
{
    QMap<QString, QString> lines;
    for (const QString &line : summary.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        lines.insert(line.left(space), line.mid(space).trimmed());
    }
    return lines;
}

} // namespace

void CheckFiguresTest::exactPercentiles_data()
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

void CheckFiguresTest::exactPercentiles()
{
    QFETCH(QList<double>, times);
    QFETCH(QList<double>, p50p95p99);

    CheckFigures responses;
    for (double t : times)
        responses.add(exchangeOf(t));
    const ExchangeRecord::Figures &f = responses.figures();
    QCOMPARE(f.count, std::uint64_t(times.size()));
    QCOMPARE(f.min, *std::min_element(times.begin(), times.end()));
    QCOMPARE(f.max, *std::max_element(times.begin(), times.end()));
    QCOMPARE(f.p50, p50p95p99[0]);
    QCOMPARE(f.p95, p50p95p99[1]);
    QCOMPARE(f.p99, p50p95p99[2]);
}

void CheckFiguresTest::longRunStaysWithinATenthOfAPercent_data()
{
    QTest::addColumn<double>("typicalMs");
    QTest::addColumn<double>("spread"); // of the natural logarithm

    QTest::newRow("precise pseudo-terminal, about 0.2 ms") << 0.2 << 0.8;
    QTest::newRow("polled, about 50 ms") << 50.0 << 0.05;
    QTest::newRow("slow radio modem, seconds") << 3000.0 << 1.5;
}

void CheckFiguresTest::longRunStaysWithinATenthOfAPercent()
{
    QFETCH(double, typicalMs);
    QFETCH(double, spread);

    QRandomGenerator random(20240501);
    std::vector<double> all;
    CheckFigures responses;
    const std::size_t n = 65536 * 3;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = logNormal(random, typicalMs, spread);
        all.push_back(t);
        responses.add(exchangeOf(t));
    }
    std::sort(all.begin(), all.end());
    const ExchangeRecord::Figures &f = responses.figures();
    // The 100th percentile is the maximum.
    for (const auto &[p, got] : {std::pair{50.0, f.p50}, std::pair{95.0, f.p95},
                                 std::pair{99.0, f.p99}, std::pair{100.0, f.max}}) {
        const double exact = all[std::size_t(std::ceil(p * double(n) / 100.0)) - 1];
        QVERIFY2(
            std::abs(got - exact) <= exact * 0.001,
            qPrintable(QStringLiteral("p%1: %2 ms, exactly %3 ms").arg(p).arg(got).arg(exact)));
    }
    QCOMPARE(f.max, all.back());
}

void CheckFiguresTest::summaryAgreesWithTheWindow_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<double>("typicalMs");
    QTest::addColumn<double>("spread");    // of the natural logarithm
    QTest::addColumn<double>("outlierMs"); // one reply in 997 takes about this long

    QTest::newRow("polled at 50 ms, past 65,536 exchanges") << 75000 << 50.0 << 0.05 << 5000.0;
    QTest::newRow("precise at 9600 baud, with stalls of seconds") << 200000 << 8.0 << 0.3 << 3000.0;
    QTest::newRow("beyond the million the window keeps") << 1050000 << 20.0 << 0.3 << 900.0;
}

void CheckFiguresTest::summaryAgreesWithTheWindow()
{
    QFETCH(int, length);
    QFETCH(double, typicalMs);
    QFETCH(double, spread);
    QFETCH(double, outlierMs);

    // The window's record is fed what the window feeds it: every probe's
    // end and every error poll. The command line gets the same, and the
    // late replies and the probe unanswered at the end that only it sees.
    ExchangeRecord window;
    CheckFigures commandLine;
    QRandomGenerator random{quint32(length)};
    std::uint64_t late = 0;
    for (int i = 0; i < length; ++i) {
        const quint32 roll = random.bounded(3000u);
        Exchange::Outcome outcome = Exchange::Outcome::Ok;
        if (roll % 40 == 3)
            outcome = Exchange::Outcome::Error;
        else if (roll % 60 == 7)
            outcome = Exchange::Outcome::Lost;
        double ms = logNormal(random, typicalMs, spread);
        if (roll % 997 == 11)
            ms = outlierMs * (1 + random.generateDouble());
        else if (roll == 2999)
            ms = 0.001; // a reply already waiting when the probe went out
        const Exchange exchange = exchangeOf(ms, outcome);
        window.add(exchange);
        commandLine.add(exchange);
        if (outcome == Exchange::Outcome::Lost && roll % 2) {
            commandLine.add(exchangeOf(ms + typicalMs, Exchange::Outcome::Late));
            ++late;
        }
    }
    commandLine.add(exchangeOf(0.5, Exchange::Outcome::Unanswered));

    const ExchangeRecord::Figures &shown = window.figures();
    QVERIFY(shown.count > 65536);
    const QMap<QString, QString> printed = linesByName(commandLine.summaryLines(length + 1));
    auto ms = [](double value) { return QString::number(value, 'f', 3) + QStringLiteral(" ms"); };
    const QList<std::pair<QString, QString>> expected = {
        {QStringLiteral("probes"), QString::number(length + 1)},
        {QStringLiteral("count"), QString::number(shown.count)},
        {QStringLiteral("errors"), QString::number(shown.errors)},
        {QStringLiteral("lost"), QString::number(shown.lost)},
        {QStringLiteral("late"), QString::number(late)},
        {QStringLiteral("unanswered"), QStringLiteral("1")},
        {QStringLiteral("mean"), ms(shown.mean)},
        {QStringLiteral("min"), ms(shown.min)},
        {QStringLiteral("max"), ms(shown.max)},
        {QStringLiteral("p50"), ms(shown.p50)},
        {QStringLiteral("p95"), ms(shown.p95)},
        {QStringLiteral("p99"), ms(shown.p99)},
    };
    QCOMPARE(printed.size(), expected.size());
    for (const auto &[name, value] : expected)
        QVERIFY2(printed.value(name) == value,
                 qPrintable(QStringLiteral("%1: the command line prints %2, the window %3")
                                .arg(name, printed.value(name), value)));
}

QTEST_GUILESS_MAIN(CheckFiguresTest)
#include "tst_CheckFigures.moc"
