#pragma once

#include <cstdint>
#include <vector>

// Response times counted into narrow buckets, 256 to each doubling of the
// time (each about 0.27% wide) from 1 us to 37 hours; a time outside falls
// into the first or last bucket. A time's bucket comes from the bits of the
// number itself, so that counting one in or out costs next to nothing, and
// every time in a bucket is below every time in the buckets above it: a
// percentile is found exactly by looking only among the times of one bucket.
class TimeHistogram {
public:
    static constexpr int kBucketsPerDoubling = 256;
    static constexpr int kLowestExponent = -10; // 2^-10 ms, about 1 us
    static constexpr int kHighestExponent = 27; // 2^27 ms, about 37 hours
    static constexpr int kBuckets = (kHighestExponent - kLowestExponent) * kBucketsPerDoubling;

    TimeHistogram();

    void add(double ms)
    {
        ++counts_[bucketOf(ms)];
        ++total_;
    }
    void remove(double ms)
    {
        --counts_[bucketOf(ms)];
        --total_;
    }
    void clear();

    std::uint64_t total() const { return total_; }
    std::uint32_t count(int bucket) const { return counts_[std::size_t(bucket)]; }

    static int bucketOf(double ms);
    // The times a bucket holds: from lowMs(bucket) up to lowMs(bucket + 1).
    static double lowMs(int bucket);

    // The bucket holding the time of 1-based `rank` in ascending order, and
    // how many times lie in the buckets below it. rank 1..total().
    struct Place {
        int bucket = 0;
        std::uint64_t below = 0;
    };
    Place find(std::uint64_t rank) const;
    // The first and the last bucket that hold a time; 0 and -1 when empty.
    int firstUsed() const;
    int lastUsed() const;

private:
    std::vector<std::uint32_t> counts_;
    std::uint64_t total_ = 0;
};
