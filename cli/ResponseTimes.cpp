#include "ResponseTimes.h"

#include "Percentile.h"

#include <algorithm>
#include <cmath>

namespace {

// Buckets grow by 0.1% from 1 us up to 10^8 ms (about 28 hours); a time
// outside lands in the first or last bucket, and the percentile is then
// held within the true minimum and maximum.
constexpr double kLowestMs = 1e-3;
constexpr double kHighestMs = 1e8;
constexpr double kGrowth = 1.001;
const double kLogGrowth = std::log(kGrowth);
const std::size_t kBuckets = std::size_t(std::log(kHighestMs / kLowestMs) / kLogGrowth) + 1;

} // namespace

ResponseTimes::ResponseTimes() : buckets_(kBuckets, 0) {}

std::size_t ResponseTimes::bucketOf(double ms)
{
    if (!(ms > kLowestMs))
        return 0;
    return std::min(kBuckets - 1, std::size_t(std::log(ms / kLowestMs) / kLogGrowth));
}

double ResponseTimes::bucketMiddle(std::size_t bucket)
{
    return kLowestMs * std::exp((double(bucket) + 0.5) * kLogGrowth);
}

void ResponseTimes::add(double ms)
{
    if (count_ == 0) {
        min_ = max_ = ms;
    } else {
        min_ = std::min(min_, ms);
        max_ = std::max(max_, ms);
    }
    ++count_;
    sum_ += ms;
    ++buckets_[bucketOf(ms)];
    if (count_ <= kExactLimit) {
        exact_.push_back(ms);
    } else if (!exact_.empty()) {
        exact_.clear();
        exact_.shrink_to_fit();
    }
}

double ResponseTimes::mean() const
{
    return count_ == 0 ? 0 : sum_ / double(count_);
}

double ResponseTimes::percentile(double p) const
{
    if (count_ == 0)
        return 0;
    const std::uint64_t rank = Percentile::rank(count_, p);
    if (!exact_.empty()) {
        std::vector<double> times = exact_;
        return Percentile::exact(times, {&p, 1}).front();
    }
    std::uint64_t seen = 0;
    for (std::size_t b = 0; b < buckets_.size(); ++b) {
        seen += buckets_[b];
        if (seen >= rank)
            return std::clamp(bucketMiddle(b), min_, max_);
    }
    return max_;
}
