#pragma once

#include "Exchange.h"
#include "TimeHistogram.h"

#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

// The exchanges of the current run, kept for the chart, its figures and the
// log a user saves. The last kLimit (or the limit given) are kept, 16 bytes
// each; older ones are only counted into the run's figures, so that a run of
// any length takes at most about 17 MB and kReceivedBudget of received text.
// Adding is constant time. Every kBlock exchanges, in the order they are
// stored, are summed up as they come (their earliest and latest time, and of
// each outcome the lowest and highest time with when it ended), so that a
// chart can take a stretch that falls within one of its pixel columns whole.
// The percentiles are worked out when they are asked for and kept until the
// next change.
class ExchangeRecord {
public:
    static constexpr std::size_t kLimit = 1'000'000;
    static constexpr std::size_t kBlock = 256;
    // Received text kept with the exchanges that did not end Ok, in
    // characters at most; beyond it the oldest texts are dropped.
    static constexpr qsizetype kReceivedBudget = 1024 * 1024;

    // One kept exchange as it is read back.
    struct Point {
        qint64 atMs = 0; // when it ended, ms since 1970 UTC
        double responseMs = 0;
        std::uint64_t sequence = 0;
        Exchange::Outcome outcome = Exchange::Outcome::Ok;
    };

    // The lowest and the highest time of some exchanges, and when each ended.
    struct Extremes {
        bool any = false;
        double lowMs = 0;
        double highMs = 0;
        qint64 lowAtMs = 0;
        qint64 highAtMs = 0;
        void add(qint64 atMs, double ms);
    };
    // A stretch of kept exchanges summed up.
    struct Span {
        std::size_t count = 0;
        qint64 earliestAtMs = 0;
        qint64 latestAtMs = 0;
        std::array<Extremes, 3> outcomes; // by Exchange::Outcome
    };

    // The run so far, as both programs show it. Times in ms, of the
    // exchanges that ended Ok, over the whole run; the percentiles (nearest
    // rank, see Percentile) over the kept ones only.
    struct Figures {
        std::uint64_t count = 0; // ended Ok
        std::uint64_t errors = 0;
        std::uint64_t lost = 0;
        std::uint64_t late = 0;       // counted, not kept: the window reports none
        std::uint64_t unanswered = 0; // counted, not kept
        double mean = 0;
        double p50 = 0;
        double p95 = 0;
        double p99 = 0;
        double max = 0;
        double min = 0;
        double standardDeviation = 0; // of all the times, not of a sample
    };

    explicit ExchangeRecord(std::size_t limit = kLimit);

    // A new run: everything forgotten.
    void reset();
    void add(const Exchange &exchange);

    // Exchanges kept, and exchanges of the run in all.
    std::size_t size() const { return times_.size(); }
    std::uint64_t total() const { return dropped_ + times_.size(); }
    // The kept exchanges' times that ended Ok.
    const TimeHistogram &keptTimes() const { return keptTimes_; }
    // When the oldest and the newest kept exchange ended, ms since 1970 UTC.
    qint64 firstAtMs() const { return firstAtMs_; }
    qint64 lastAtMs() const { return lastAtMs_; }
    // Changes at every add() and reset().
    std::uint64_t version() const { return version_; }

    const Figures &figures() const;
    // The same but the percentiles, which are left 0: no pass over the kept
    // times, so cheap enough to read at every exchange.
    Figures totals() const;

    // Calls visit(const Point &) for every kept exchange, oldest first.
    template <typename Visit> void forEach(Visit &&visit) const;
    // Oldest first, offers each stretch of kept exchanges summed up to
    // whole(const Span &); where that returns false, calls each(const Point &)
    // for the exchanges of the stretch instead (their sequences are not set).
    template <typename Whole, typename Each> void forEachSpan(Whole &&whole, Each &&each) const;
    // Calls visit for every kept exchange, oldest first, as the engine
    // reported it: its received text too, unless dropped; its time with the
    // offset from UTC the local time had then. Stops when visit returns false.
    void forEachExchange(const std::function<bool(const Exchange &)> &visit) const;

private:
    // An exchange's time and sequence as steps from the exchange before it,
    // so that both fit beside its exact response time.
    struct Step {
        std::int32_t atMs;           // the wall clock may step back
        std::uint32_t sequence : 30; // probes given up on a stop are skipped
        std::uint32_t outcome : 2;
    };
    static_assert(sizeof(Step) + sizeof(double) == 16);

    struct Block {
        qint64 startAtMs = 0; // of the exchange in its first place
        Span span;
    };

    // The outcomes counted, and the extremes and the running mean and sum of
    // squared deviations (Welford) of the times, of the whole run.
    struct Summary {
        std::uint64_t count = 0;
        std::uint64_t errors = 0;
        std::uint64_t lost = 0;
        std::uint64_t late = 0;
        std::uint64_t unanswered = 0;
        double min = 0;
        double max = 0;
        double mean = 0;
        double squares = 0;
        void add(double ms, Exchange::Outcome outcome);
    };

    void dropOldest();
    void sumUpBlock(std::size_t block);
    void findPercentiles(Figures &f) const;
    // Calls each(point) for the places [from, to) of the ring, oldest first,
    // the first of them ending at `atMs`.
    template <typename Each>
    void walk(std::size_t from, std::size_t to, qint64 atMs, Each &&each) const;

    std::size_t limit_;
    // Kept exchanges in a ring, by place: the response times, and the rest.
    std::vector<double> times_;
    std::vector<Step> steps_;
    std::vector<Block> blocks_;
    std::size_t head_ = 0; // the oldest kept, once the record is full
    qint64 firstAtMs_ = 0; // of the oldest kept
    std::uint64_t firstSequence_ = 0;
    qint64 lastAtMs_ = 0; // of the newest, as read back
    std::uint64_t lastSequence_ = 0;
    std::uint64_t dropped_ = 0;
    Summary run_;
    TimeHistogram keptTimes_;
    // Received texts by the exchange's place in the run, oldest first.
    std::deque<std::pair<std::uint64_t, QString>> received_;
    qsizetype receivedChars_ = 0;
    std::uint64_t version_ = 0;
    mutable std::uint64_t figuresVersion_ = ~std::uint64_t(0);
    mutable Figures figures_;
};

inline void ExchangeRecord::Extremes::add(qint64 atMs, double ms)
{
    if (!any) {
        any = true;
        lowMs = highMs = ms;
        lowAtMs = highAtMs = atMs;
    } else if (ms < lowMs) {
        lowMs = ms;
        lowAtMs = atMs;
    } else if (ms > highMs) {
        highMs = ms;
        highAtMs = atMs;
    }
}

template <typename Visit> void ExchangeRecord::forEach(Visit &&visit) const
{
    Point point;
    point.atMs = firstAtMs_;
    point.sequence = firstSequence_;
    // Oldest first: from the head to the end of the ring, then from its start.
    bool first = true;
    for (const auto &[from, to] :
         {std::pair{head_, times_.size()}, std::pair{std::size_t(0), head_}}) {
        for (std::size_t i = from; i < to; ++i) {
            const Step step = steps_[i];
            if (!first) {
                point.atMs += step.atMs;
                point.sequence += step.sequence;
            }
            first = false;
            point.responseMs = times_[i];
            point.outcome = Exchange::Outcome(step.outcome);
            visit(point);
        }
    }
}

template <typename Each>
void ExchangeRecord::walk(std::size_t from, std::size_t to, qint64 atMs, Each &&each) const
{
    Point point;
    point.atMs = atMs;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from)
            point.atMs += steps_[i].atMs;
        point.responseMs = times_[i];
        point.outcome = Exchange::Outcome(steps_[i].outcome);
        each(point);
    }
}

template <typename Whole, typename Each>
void ExchangeRecord::forEachSpan(Whole &&whole, Each &&each) const
{
    if (times_.empty())
        return;
    // Oldest first. Once the ring has come round, the block holding the head
    // holds the newest exchanges before the head and the oldest from it on:
    // those two parts are walked, first and last, and the blocks between
    // are offered whole.
    const std::size_t blocks = blocks_.size();
    const std::size_t headBlock = head_ / kBlock;
    const bool split = head_ % kBlock != 0;
    const std::size_t headBlockEnd = std::min(times_.size(), (headBlock + 1) * kBlock);
    std::size_t next = headBlock;
    if (split) {
        walk(head_, headBlockEnd, firstAtMs_, each);
        next = (headBlock + 1) % blocks;
    }
    for (std::size_t n = split ? 1 : 0; n < blocks; ++n, next = (next + 1) % blocks) {
        const Block &block = blocks_[next];
        if (!whole(std::as_const(block.span)))
            walk(next * kBlock, std::min(times_.size(), (next + 1) * kBlock), block.startAtMs,
                 each);
    }
    if (split)
        walk(headBlock * kBlock, head_, blocks_[headBlock].startAtMs, each);
}
