#include "ExchangeRecord.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

// The run as the chart and the saved log read it back, on random runs within
// the bound and beyond it: every figure against a reference worked out on the
// same exchanges, and the kept exchanges exactly as the engine reported them.
class ExchangeRecordTest : public QObject {
    Q_OBJECT
private slots:
    void matchesAReferenceOfTheSameRun_data();
    void matchesAReferenceOfTheSameRun();
};

namespace {

struct Reported {
    qint64 atMs;
    double responseMs;
    std::uint64_t sequence;
    Exchange::Outcome outcome;
    QString received;
};

// Times in whole microseconds, mostly tens of ms with a long tail; one error
// in 30 and one lost reply in 50, each with the text received; now and then
// a probe skipped, and once in a while the wall clock set back an hour.
std::vector<Reported> randomRun(std::size_t n, quint32 seed)
{
    QRandomGenerator random(seed);
    std::vector<Reported> run;
    run.reserve(n);
    qint64 at = 1714600000000; // 2024-05-01
    std::uint64_t sequence = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const quint32 roll = random.bounded(3000u);
        at += 50 + random.bounded(100);
        if (roll == 0)
            at -= 3600 * 1000;
        sequence += roll == 1 ? 2 : 1;
        const std::uint32_t us =
            roll < 30 ? 100000 + random.bounded(400000u) : 30000 + random.bounded(40000u);
        Reported r{at, us / 1000.0, sequence, Exchange::Outcome::Ok, {}};
        if (roll % 30 == 7) {
            r.outcome = Exchange::Outcome::Error;
            r.received = QStringLiteral("AB,\"C\"[13]%1").arg(i);
        } else if (roll % 50 == 9) {
            r.outcome = Exchange::Outcome::Lost;
            r.received = roll % 2 ? QStringLiteral("AB") : QString();
        }
        run.push_back(r);
    }
    // The run's extremes come first, so a run beyond the bound drops them.
    const std::array<double, 2> extremes = {0.001, 900000.0};
    for (std::size_t i = 0; i < std::min(n, extremes.size()); ++i)
        run[i] = {run[i].atMs, extremes[i], run[i].sequence, Exchange::Outcome::Ok, {}};
    return run;
}

void add(ExchangeRecord &record, const std::vector<Reported> &run)
{
    for (const Reported &r : run) {
        Exchange exchange;
        exchange.at = QDateTime::fromMSecsSinceEpoch(r.atMs, Qt::UTC);
        exchange.responseMs = r.responseMs;
        exchange.sequence = r.sequence;
        exchange.outcome = r.outcome;
        exchange.received = r.received;
        record.add(exchange);
    }
}

} // namespace

void ExchangeRecordTest::matchesAReferenceOfTheSameRun_data()
{
    QTest::addColumn<qulonglong>("length");
    QTest::addColumn<qulonglong>("earlierRun"); // exchanges of a run before, forgotten
    QTest::addColumn<qulonglong>("limit");      // exchanges kept at most

    const auto million = qulonglong(ExchangeRecord::kLimit);
    QTest::newRow("one exchange") << 1ull << 0ull << million;
    QTest::newRow("a short run") << 10007ull << 0ull << million;
    QTest::newRow("a new run after another") << 3001ull << 5000ull << million;
    QTest::newRow("beyond the bound of a million") << million + 123457 << 0ull << million;
    // A limit that is no whole number of blocks, gone round several times.
    QTest::newRow("five times round a ring of 1000") << 5003ull << 0ull << 1000ull;
}

void ExchangeRecordTest::matchesAReferenceOfTheSameRun()
{
    QFETCH(qulonglong, length);
    QFETCH(qulonglong, earlierRun);
    QFETCH(qulonglong, limit);

    ExchangeRecord record(limit);
    add(record, randomRun(earlierRun, 7));
    record.reset();
    const std::vector<Reported> run = randomRun(length, 20240501);
    add(record, run);

    const std::size_t kept = std::min<std::size_t>(run.size(), limit);
    QCOMPARE(record.size(), kept);
    QCOMPARE(record.total(), std::uint64_t(run.size()));

    // The figures of the whole run; the percentiles of the kept part.
    ExchangeRecord::Figures want;
    std::vector<double> all;
    std::vector<double> keptTimes;
    for (std::size_t i = 0; i < run.size(); ++i) {
        want.errors += run[i].outcome == Exchange::Outcome::Error;
        want.lost += run[i].outcome == Exchange::Outcome::Lost;
        if (run[i].outcome != Exchange::Outcome::Ok)
            continue;
        all.push_back(run[i].responseMs);
        if (i >= run.size() - kept)
            keptTimes.push_back(run[i].responseMs);
    }
    double sum = 0;
    for (double t : all)
        sum += t;
    const double mean = sum / double(all.size());
    double squares = 0;
    for (double t : all)
        squares += (t - mean) * (t - mean);
    std::sort(keptTimes.begin(), keptTimes.end());
    auto nearestRank = [&](double p) {
        return keptTimes[std::size_t(std::ceil(p / 100.0 * double(keptTimes.size()))) - 1];
    };

    const ExchangeRecord::Figures &got = record.figures();
    QCOMPARE(got.count, std::uint64_t(all.size()));
    QCOMPARE(got.errors, want.errors);
    QCOMPARE(got.lost, want.lost);
    QCOMPARE(got.min, *std::min_element(all.begin(), all.end()));
    QCOMPARE(got.max, *std::max_element(all.begin(), all.end()));
    QVERIFY2(std::abs(got.mean - mean) <= 1e-9 * mean,
             qPrintable(QStringLiteral("mean %1, expected %2").arg(got.mean).arg(mean)));
    const double deviation = std::sqrt(squares / double(all.size()));
    QVERIFY2(std::abs(got.standardDeviation - deviation) <= 1e-9 * (deviation + 1),
             qPrintable(QStringLiteral("standard deviation %1, expected %2")
                            .arg(got.standardDeviation)
                            .arg(deviation)));
    QCOMPARE(got.p50, nearestRank(50));
    QCOMPARE(got.p95, nearestRank(95));
    QCOMPARE(got.p99, nearestRank(99));

    // The kept exchanges read back as they were reported, oldest first.
    std::size_t i = run.size() - kept;
    bool same = true;
    record.forEachExchange([&](const Exchange &e) {
        const Reported &r = run[i];
        same = e.at.toMSecsSinceEpoch() == r.atMs && e.responseMs == r.responseMs &&
               e.sequence == r.sequence && e.outcome == r.outcome && e.received == r.received;
        if (same)
            ++i;
        return same;
    });
    QVERIFY2(same,
             qPrintable(QStringLiteral("exchange %1 of the run read back differently").arg(i)));
    QCOMPARE(i, run.size());

    // In stretches as a chart takes them, every other one whole and the
    // rest exchange by exchange: all of them in order, each stretch summing
    // up its own exchanges.
    i = run.size() - kept;
    bool whole = false;
    QString wrong;
    auto differs = [&](const QString &what) {
        if (wrong.isEmpty())
            wrong = QStringLiteral("%1 at exchange %2 of the run").arg(what).arg(i);
    };
    record.forEachSpan(
        [&](const ExchangeRecord::Span &span) {
            whole = !whole;
            if (!whole)
                return false;
            ExchangeRecord::Span want;
            want.earliestAtMs = want.latestAtMs = run[i].atMs;
            for (std::size_t j = i; j < i + span.count && j < run.size(); ++j) {
                want.earliestAtMs = std::min(want.earliestAtMs, run[j].atMs);
                want.latestAtMs = std::max(want.latestAtMs, run[j].atMs);
                want.outcomes[std::size_t(run[j].outcome)].add(run[j].atMs, run[j].responseMs);
            }
            if (span.count == 0 || span.earliestAtMs != want.earliestAtMs ||
                span.latestAtMs != want.latestAtMs)
                differs(QStringLiteral("a stretch's times"));
            for (std::size_t k = 0; k < want.outcomes.size(); ++k) {
                const auto &got = span.outcomes[k];
                const auto &expected = want.outcomes[k];
                if (got.any != expected.any ||
                    (got.any &&
                     (got.lowMs != expected.lowMs || got.highMs != expected.highMs ||
                      got.lowAtMs != expected.lowAtMs || got.highAtMs != expected.highAtMs)))
                    differs(QStringLiteral("a stretch's extremes"));
            }
            i += span.count;
            return true;
        },
        [&](const ExchangeRecord::Point &p) {
            if (i >= run.size() || p.atMs != run[i].atMs || p.responseMs != run[i].responseMs ||
                p.outcome != run[i].outcome)
                differs(QStringLiteral("an exchange"));
            ++i;
        });
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QCOMPARE(i, run.size());
}

QTEST_GUILESS_MAIN(ExchangeRecordTest)
#include "tst_ExchangeRecord.moc"
