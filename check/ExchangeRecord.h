#pragma once

#include "Exchange.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// The exchanges of the current run, kept for the chart, its figures and the
// log a user saves. The last kLimit are kept, 16 bytes each; older ones are
// only counted into a summary, so that a run of any length takes at most
// about 16 MB. Adding is constant time; the figures are worked out when they
// are asked for and kept until the next change.
class ExchangeRecord {
public:
    static constexpr std::size_t kLimit = 1'000'000;
    // Received text kept with the exchanges that did not end Ok, in
    // characters at most; beyond it the oldest texts are dropped.
    static constexpr qsizetype kReceivedBudget = 8 * 1024 * 1024;

    // One kept exchange as it is read back.
    struct Point {
        qint64 atMs = 0; // when it ended, ms since 1970 UTC
        double responseMs = 0;
        std::uint64_t sequence = 0;
        Exchange::Outcome outcome = Exchange::Outcome::Ok;
    };

    // The run so far. Times in ms, of the exchanges that ended Ok, over the
    // whole run; the percentiles (nearest rank) over the kept ones only.
    struct Figures {
        std::uint64_t count = 0; // ended Ok
        std::uint64_t errors = 0;
        std::uint64_t lost = 0;
        double mean = 0;
        double p50 = 0;
        double p95 = 0;
        double p99 = 0;
        double max = 0;
        double min = 0;
        double standardDeviation = 0; // of all the times, not of a sample
    };

    ExchangeRecord();

    // A new run: everything forgotten.
    void reset();
    void add(const Exchange &exchange);

    // Exchanges kept, and exchanges of the run in all.
    std::size_t size() const { return points_.size(); }
    std::uint64_t total() const { return dropped_ + points_.size(); }
    // When the oldest and the newest kept exchange ended, ms since 1970 UTC.
    qint64 firstAtMs() const { return firstAtMs_; }
    qint64 lastAtMs() const { return lastAtMs_; }
    // Changes at every add() and reset().
    std::uint64_t version() const { return version_; }

    const Figures &figures() const;

    // Calls visit(const Point &) for every kept exchange, oldest first.
    template <typename Visit> void forEach(Visit &&visit) const;
    // Calls visit for every kept exchange, oldest first, as the engine
    // reported it: its received text too, unless dropped; its time with the
    // offset from UTC the local time had then. Stops when visit returns false.
    void forEachExchange(const std::function<bool(const Exchange &)> &visit) const;

private:
    // What is kept of one exchange: its time and sequence as steps from
    // the exchange before it, so that both fit beside the exact response time.
    struct Stored {
        double responseMs;
        std::int32_t atStepMs;           // the wall clock may step back
        std::uint32_t sequenceStep : 30; // probes given up on a stop are skipped
        std::uint32_t outcome : 2;
    };
    static_assert(sizeof(Stored) == 16);

    // Count, extremes and the running mean and sum of squared deviations
    // (Welford) of the exchanges no longer kept.
    struct Summary {
        std::uint64_t count = 0;
        std::uint64_t errors = 0;
        std::uint64_t lost = 0;
        double min = 0;
        double max = 0;
        double mean = 0;
        double squares = 0;
        void add(double ms, Exchange::Outcome outcome);
    };

    const Stored &at(std::size_t i) const { return points_[(head_ + i) % points_.size()]; }
    void dropOldest();
    Figures compute() const;

    std::vector<Stored> points_;
    std::size_t head_ = 0; // the oldest kept, once the record is full
    qint64 firstAtMs_ = 0; // of the oldest kept
    std::uint64_t firstSequence_ = 0;
    qint64 lastAtMs_ = 0; // of the newest, as read back
    std::uint64_t lastSequence_ = 0;
    std::uint64_t dropped_ = 0;
    Summary summary_;
    // Received texts by the exchange's place in the run, oldest first.
    std::deque<std::pair<std::uint64_t, QString>> received_;
    qsizetype receivedChars_ = 0;
    std::uint64_t version_ = 0;
    mutable std::uint64_t figuresVersion_ = ~std::uint64_t(0);
    mutable Figures figures_;
};

template <typename Visit> void ExchangeRecord::forEach(Visit &&visit) const
{
    Point point;
    point.atMs = firstAtMs_;
    point.sequence = firstSequence_;
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const Stored &stored = at(i);
        if (i > 0) {
            point.atMs += stored.atStepMs;
            point.sequence += stored.sequenceStep;
        }
        point.responseMs = stored.responseMs;
        point.outcome = Exchange::Outcome(stored.outcome);
        visit(point);
    }
}
