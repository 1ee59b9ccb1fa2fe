#include "ExchangeRecord.h"

#include "Percentile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace {

constexpr std::uint32_t kLargestSequenceStep = (1u << 30) - 1;

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

ExchangeRecord::ExchangeRecord(std::size_t limit) : limit_(std::max<std::size_t>(1, limit)) {}

void ExchangeRecord::Summary::add(double ms, Exchange::Outcome outcome)
{
    switch (outcome) {
    case Exchange::Outcome::Error:
        ++errors;
        return;
    case Exchange::Outcome::Lost:
        ++lost;
        return;
    case Exchange::Outcome::Late:
        ++late;
        return;
    case Exchange::Outcome::Unanswered:
        ++unanswered;
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
    times_ = {};
    steps_ = {};
    blocks_ = {};
    head_ = 0;
    firstAtMs_ = lastAtMs_ = 0;
    firstSequence_ = lastSequence_ = 0;
    dropped_ = 0;
    run_ = {};
    keptTimes_.clear();
    received_ = {};
    receivedChars_ = 0;
    ++version_;
}

void ExchangeRecord::add(const Exchange &exchange)
{
    // The record keeps what a probe's end can be in the window: a reply, an
    // error, a reply given up. Late replies and probes unanswered at the end
    // are only the command line's to log, and only counted here.
    if (exchange.outcome == Exchange::Outcome::Late ||
        exchange.outcome == Exchange::Outcome::Unanswered) {
        run_.add(exchange.responseMs, exchange.outcome);
        ++version_;
        return;
    }
    const qint64 atMs = exchange.at.toMSecsSinceEpoch();
    Step step{};
    step.outcome = std::uint32_t(exchange.outcome);
    if (times_.empty() && dropped_ == 0) {
        firstAtMs_ = lastAtMs_ = atMs;
        firstSequence_ = lastSequence_ = exchange.sequence;
    } else {
        // Steps that do not fit (the clock set weeks back) are cut short;
        // the steps after them make up for it.
        step.atMs = std::int32_t(std::clamp<qint64>(atMs - lastAtMs_,
                                                    std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max()));
        step.sequence = std::uint32_t(std::min<std::uint64_t>(
            exchange.sequence > lastSequence_ ? exchange.sequence - lastSequence_ : 0,
            kLargestSequenceStep));
        lastAtMs_ += step.atMs;
        lastSequence_ += step.sequence;
    }

    run_.add(exchange.responseMs, exchange.outcome);
    if (exchange.outcome == Exchange::Outcome::Ok)
        keptTimes_.add(exchange.responseMs);

    const std::uint64_t place = total();
    if (times_.size() < limit_) {
        // Grown by doubling up to the limit and no further.
        if (times_.size() == times_.capacity()) {
            const std::size_t room =
                std::min(limit_, std::max<std::size_t>(4 * kBlock, times_.size() * 2));
            times_.reserve(room);
            steps_.reserve(room);
        }
        const std::size_t at = times_.size();
        times_.push_back(exchange.responseMs);
        steps_.push_back(step);
        if (at % kBlock == 0)
            blocks_.push_back({lastAtMs_, {0, lastAtMs_, lastAtMs_, {}}});
        Span &span = blocks_.back().span;
        ++span.count;
        span.earliestAtMs = std::min(span.earliestAtMs, lastAtMs_);
        span.latestAtMs = std::max(span.latestAtMs, lastAtMs_);
        span.outcomes[std::size_t(exchange.outcome)].add(lastAtMs_, exchange.responseMs);
    } else {
        dropOldest();
        const std::size_t at = head_;
        times_[at] = exchange.responseMs;
        steps_[at] = step;
        head_ = (head_ + 1) % times_.size();
        // A block being written into holds the newest exchanges and the
        // oldest, and is never taken whole: it is summed up once it is full.
        if (at % kBlock == 0)
            blocks_[at / kBlock].startAtMs = lastAtMs_;
        if ((at + 1) % kBlock == 0 || at + 1 == times_.size())
            sumUpBlock(at / kBlock);
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
    if (Exchange::Outcome(steps_[head_].outcome) == Exchange::Outcome::Ok)
        keptTimes_.remove(times_[head_]);
    const Step &next = steps_[(head_ + 1) % times_.size()];
    firstAtMs_ += next.atMs;
    firstSequence_ += next.sequence;
    if (!received_.empty() && received_.front().first == dropped_) {
        receivedChars_ -= received_.front().second.size();
        received_.pop_front();
    }
    ++dropped_;
}

void ExchangeRecord::sumUpBlock(std::size_t block)
{
    Span span;
    span.earliestAtMs = span.latestAtMs = blocks_[block].startAtMs;
    const std::size_t from = block * kBlock;
    walk(from, std::min(times_.size(), from + kBlock), blocks_[block].startAtMs,
         [&span](const Point &p) {
             ++span.count;
             span.earliestAtMs = std::min(span.earliestAtMs, p.atMs);
             span.latestAtMs = std::max(span.latestAtMs, p.atMs);
             span.outcomes[std::size_t(p.outcome)].add(p.atMs, p.responseMs);
         });
    blocks_[block].span = span;
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
        figures_ = totals();
        findPercentiles(figures_);
        figuresVersion_ = version_;
    }
    return figures_;
}

ExchangeRecord::Figures ExchangeRecord::totals() const
{
    Figures f;
    f.count = run_.count;
    f.errors = run_.errors;
    f.lost = run_.lost;
    f.late = run_.late;
    f.unanswered = run_.unanswered;
    if (run_.count == 0)
        return f;
    f.mean = run_.mean;
    f.min = run_.min;
    f.max = run_.max;
    f.standardDeviation = std::sqrt(run_.squares / double(run_.count));
    return f;
}

void ExchangeRecord::findPercentiles(Figures &f) const
{
    // Each percentile's bucket is known from the counts; only the kept times
    // in those (at most three) buckets are gathered and ranked.
    static constexpr std::array<double, 3> kPercents = {50, 95, 99};
    const std::uint64_t kept = keptTimes_.total();
    if (kept == 0)
        return;
    std::array<TimeHistogram::Place, 3> places;
    std::array<std::vector<double>, 3> among;
    for (std::size_t i = 0; i < kPercents.size(); ++i)
        places[i] = keptTimes_.find(Percentile::rank(kept, kPercents[i]));
    // Each bucket as the times it holds, the first and last open-ended, so
    // that a time is placed by comparisons alone.
    std::array<std::pair<double, double>, 3> ranges;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const int b = places[i].bucket;
        ranges[i] = {b == 0 ? -std::numeric_limits<double>::infinity() : TimeHistogram::lowMs(b),
                     b == TimeHistogram::kBuckets - 1 ? std::numeric_limits<double>::infinity()
                                                      : TimeHistogram::lowMs(b + 1)};
    }
    // Only the times are looked at, and the outcome of the few in range;
    // the ranges are tested without branching, as a time is seldom in one.
    for (std::size_t at = 0; at < times_.size(); ++at) {
        const double ms = times_[at];
        const unsigned in = unsigned(ms >= ranges[0].first && ms < ranges[0].second) |
                            unsigned(ms >= ranges[1].first && ms < ranges[1].second) << 1 |
                            unsigned(ms >= ranges[2].first && ms < ranges[2].second) << 2;
        if (in != 0 && Exchange::Outcome(steps_[at].outcome) == Exchange::Outcome::Ok)
            // The lowest of equal buckets: the others share its times.
            among[std::size_t(std::countr_zero(in))].push_back(ms);
    }
    std::array<double, 3> found{};
    for (std::size_t i = 0; i < places.size(); ++i) {
        // A bucket met before holds the times of this one too.
        std::size_t j = 0;
        while (places[j].bucket != places[i].bucket)
            ++j;
        const std::uint64_t rank = Percentile::rank(kept, kPercents[i]) - places[i].below;
        std::vector<double> &times = among[j];
        const auto nth = times.begin() + std::ptrdiff_t(rank - 1);
        std::nth_element(times.begin(), nth, times.end());
        found[i] = *nth;
    }
    f.p50 = found[0];
    f.p95 = found[1];
    f.p99 = found[2];
}
