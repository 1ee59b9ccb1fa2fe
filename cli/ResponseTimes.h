#pragma once

#include <cstdint>
#include <vector>

// The response times of a run, in ms, for its summary: count, mean, minimum,
// maximum and percentiles. The first kExactLimit times are kept as they are,
// so the percentiles of a shorter run are exact; a longer run (a night at a
// few ms) falls back to a histogram of buckets 0.1% wide, which keeps the
// memory fixed and every percentile within 0.1% of the exact one.
class ResponseTimes {
public:
    static constexpr std::size_t kExactLimit = 65536;

    ResponseTimes();

    void add(double ms);

    std::uint64_t count() const { return count_; }
    // 0 when nothing was added.
    double mean() const;
    double min() const { return min_; }
    double max() const { return max_; }
    // The nearest-rank percentile: the smallest time that at least `p`
    // percent of the times do not exceed (0 < p <= 100); 0 when empty.
    //   times 1, 2, 3, 4: percentile(50) == 2, percentile(95) == 4
    double percentile(double p) const;

private:
    static std::size_t bucketOf(double ms);
    static double bucketMiddle(std::size_t bucket);

    std::uint64_t count_ = 0;
    double sum_ = 0;
    double min_ = 0;
    double max_ = 0;
    std::vector<double> exact_; // until kExactLimit times
    std::vector<std::uint64_t> buckets_;
};
