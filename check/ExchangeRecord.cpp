#include "ExchangeRecord.h"

#include "Percentile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr std::uint32_t kLargestSequenceStep = (1u << 30) - 1;

// Mean and sum of squared deviations of two parts together (Chan et al.).
void merge(std::uint64_t &count, double &mean, double &squares, std::uint64_t otherCount,
           double otherMean, double otherSquares)
{
    if (otherCount == 0)
        return;
    const double n = double(count);
    const double m = double(otherCount);
    const double delta = otherMean - mean;
    mean += delta * m / (n + m);
    squares += otherSquares + delta * delta * n * m / (n + m);
    count += otherCount;
}

// The local time's offset from UTC at a moment, looked up once for each
// quarter of an hour: the lookup costs microseconds, as much as the rest of a
// row of the log, and the offset changes only at a transition, which falls on
// a quarter of an hour. A quarter whose two ends differ (a transition inside
// it, wherever it falls) is looked up at every moment.
class LocalOffsets {
public:
    int at(qint64 ms)
    {
        constexpr qint64 kQuarterMs = 15 * 60 * 1000;
        const qint64 quarter = ms >= 0 ? ms / kQuarterMs : (ms - kQuarterMs + 1) / kQuarterMs;
        if (quarter != quarter_) {
            quarter_ = quarter;
            offset_ = lookUp(quarter * kQuarterMs);
            uniform_ = offset_ == lookUp(quarter * kQuarterMs + kQuarterMs - 1);
        }
        return uniform_ ? offset_ : lookUp(ms);
    }

private:
    static int lookUp(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc(); }

    qint64 quarter_ = std::numeric_limits<qint64>::min();
    int offset_ = 0;
    bool uniform_ = true;
};

} // namespace

ExchangeRecord::ExchangeRecord() = default;

void ExchangeRecord::Summary::add(double ms, Exchange::Outcome outcome)
{
    switch (outcome) {
    case Exchange::Outcome::Error:
        ++errors;
        return;
    case Exchange::Outcome::Lost:
        ++lost;
        return;
    case Exchange::Outcome::Ok:
        break;
    }
    min = count == 0 ? ms : std::min(min, ms);
    max = count == 0 ? ms : std::max(max, ms);
    ++count;
    const double delta = ms - mean;
    mean += delta / double(count);
    squares += delta * (ms - mean);
}

void ExchangeRecord::reset()
{
    // A run of a million leaves 16 MB behind: given back, not kept for the next.
    points_ = {};
    head_ = 0;
    firstAtMs_ = lastAtMs_ = 0;
    firstSequence_ = lastSequence_ = 0;
    dropped_ = 0;
    summary_ = {};
    received_ = {};
    receivedChars_ = 0;
    ++version_;
}

void ExchangeRecord::add(const Exchange &exchange)
{
    const qint64 atMs = exchange.at.toMSecsSinceEpoch();
    Stored stored{};
    stored.responseMs = exchange.responseMs;
    stored.outcome = std::uint32_t(exchange.outcome);
    if (points_.empty() && dropped_ == 0) {
        firstAtMs_ = lastAtMs_ = atMs;
        firstSequence_ = lastSequence_ = exchange.sequence;
    } else {
        // Steps that do not fit (the clock set weeks back) are cut short;
        // the steps after them make up for it.
        stored.atStepMs = std::int32_t(
            std::clamp<qint64>(atMs - lastAtMs_, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()));
        stored.sequenceStep = std::uint32_t(std::min<std::uint64_t>(
            exchange.sequence > lastSequence_ ? exchange.sequence - lastSequence_ : 0,
            kLargestSequenceStep));
        lastAtMs_ += stored.atStepMs;
        lastSequence_ += stored.sequenceStep;
    }

    const std::uint64_t place = total();
    if (points_.size() < kLimit) {
        // Grown by doubling up to the limit and no further.
        if (points_.size() == points_.capacity())
            points_.reserve(std::min(kLimit, std::max<std::size_t>(1024, points_.size() * 2)));
        points_.push_back(stored);
    } else {
        dropOldest();
        points_[head_] = stored;
        head_ = (head_ + 1) % points_.size();
    }

    if (!exchange.received.isEmpty()) {
        received_.emplace_back(place, exchange.received);
        receivedChars_ += exchange.received.size();
        while (receivedChars_ > kReceivedBudget) {
            receivedChars_ -= received_.front().second.size();
            received_.pop_front();
        }
    }
    ++version_;
}

void ExchangeRecord::dropOldest()
{
    const Stored &oldest = points_[head_];
    summary_.add(oldest.responseMs, Exchange::Outcome(oldest.outcome));
    const Stored &next = points_[(head_ + 1) % points_.size()];
    firstAtMs_ += next.atStepMs;
    firstSequence_ += next.sequenceStep;
    if (!received_.empty() && received_.front().first == dropped_) {
        receivedChars_ -= received_.front().second.size();
        received_.pop_front();
    }
    ++dropped_;
}

void ExchangeRecord::forEachExchange(const std::function<bool(const Exchange &)> &visit) const
{
    LocalOffsets offsets;
    auto text = received_.begin();
    std::uint64_t place = dropped_;
    bool going = true;
    forEach([&](const Point &point) {
        if (!going)
            return;
        Exchange exchange;
        exchange.sequence = point.sequence;
        exchange.at =
            QDateTime::fromMSecsSinceEpoch(point.atMs, Qt::OffsetFromUTC, offsets.at(point.atMs));
        exchange.responseMs = point.responseMs;
        exchange.outcome = point.outcome;
        if (text != received_.end() && text->first == place) {
            exchange.received = text->second;
            ++text;
        }
        ++place;
        going = visit(exchange);
    });
}

const ExchangeRecord::Figures &ExchangeRecord::figures() const
{
    if (figuresVersion_ != version_) {
        figures_ = compute();
        figuresVersion_ = version_;
    }
    return figures_;
}

ExchangeRecord::Figures ExchangeRecord::compute() const
{
    Figures f;
    f.min = summary_.min;
    f.max = summary_.max;
    std::vector<double> times;
    times.reserve(points_.size());
    for (const Stored &stored : points_) {
        switch (Exchange::Outcome(stored.outcome)) {
        case Exchange::Outcome::Ok:
            f.min = summary_.count == 0 && times.empty() ? stored.responseMs
                                                         : std::min(f.min, stored.responseMs);
            f.max = summary_.count == 0 && times.empty() ? stored.responseMs
                                                         : std::max(f.max, stored.responseMs);
            times.push_back(stored.responseMs);
            break;
        case Exchange::Outcome::Error:
            ++f.errors;
            break;
        case Exchange::Outcome::Lost:
            ++f.lost;
            break;
        }
    }
    f.errors += summary_.errors;
    f.lost += summary_.lost;

    // The kept times' mean, then their squared deviations from it: two
    // passes, exact where one running sum of squares would cancel.
    double mean = 0;
    for (double t : times)
        mean += t;
    mean = times.empty() ? 0 : mean / double(times.size());
    double squares = 0;
    for (double t : times)
        squares += (t - mean) * (t - mean);

    std::uint64_t count = summary_.count;
    f.mean = summary_.mean;
    double allSquares = summary_.squares;
    merge(count, f.mean, allSquares, times.size(), mean, squares);
    f.count = count;
    if (count == 0)
        return f;
    f.standardDeviation = std::sqrt(allSquares / double(count));

    static constexpr std::array<double, 3> kPercents = {50, 95, 99};
    const std::vector<double> p = Percentile::exact(times, kPercents);
    f.p50 = p[0];
    f.p95 = p[1];
    f.p99 = p[2];
    return f;
}
