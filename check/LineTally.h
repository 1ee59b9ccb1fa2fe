#pragma once

#include "Exchange.h"

#include <array>
#include <cstdint>
#include <optional>

// What one watched line has done since it was first opened: the counts a
// metrics scrape reports, and its response times counted into a few fixed
// buckets. Fed with the exchanges of the line's loop-back check as they end.
class LineTally {
public:
    // Upper bounds of the response-time buckets, in seconds. A short text at
    // 115200 baud comes back in about a millisecond, one at 9600 baud in ten
    // or so, a long one at 300 baud in seconds; the top bucket holds replies
    // held back by flow control or a slow device server. Above 10 s: +Inf.
    static constexpr std::array<double, 13> kBucketBounds = {
        0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0, 2.5, 5.0, 10.0};

    void probeSent() { ++probes_; }
    // Ok: an exchange, its time counted; Error: an error; Lost and
    // Unanswered: lost; Late: late.
    void add(const Exchange &exchange);
    void setUp(bool up) { up_ = up; }

    std::uint64_t probes() const { return probes_; }
    std::uint64_t exchanges() const { return exchanges_; }
    std::uint64_t errors() const { return errors_; }
    std::uint64_t lost() const { return lost_; }
    std::uint64_t late() const { return late_; }
    bool up() const { return up_; }
    // Exchanges whose time was at most kBucketBounds[i] s, cumulative as
    // Prometheus' buckets are; exchanges() is the +Inf bucket.
    std::uint64_t bucket(std::size_t i) const { return buckets_[i]; }
    // The sum of the exchanges' times, in seconds.
    double responseSeconds() const { return sumSeconds_; }
    // When the last exchange came back, in seconds since 1970 (UTC); none
    // before the first.
    std::optional<double> lastExchangeAt() const { return lastExchangeAt_; }

private:
    std::uint64_t probes_ = 0;
    std::uint64_t exchanges_ = 0;
    std::uint64_t errors_ = 0;
    std::uint64_t lost_ = 0;
    std::uint64_t late_ = 0;
    bool up_ = false;
    std::array<std::uint64_t, kBucketBounds.size()> buckets_{};
    double sumSeconds_ = 0;
    std::optional<double> lastExchangeAt_;
};
