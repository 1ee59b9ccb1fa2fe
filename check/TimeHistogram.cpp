#include "TimeHistogram.h"

#include <bit>
#include <cmath>

namespace {

constexpr int kMantissaBits = 52;
constexpr int kBucketBits = 8; // log2 of kBucketsPerDoubling
constexpr int kExponentBias = 1023;

} // namespace

static_assert(1 << kBucketBits == TimeHistogram::kBucketsPerDoubling);

TimeHistogram::TimeHistogram() : counts_(kBuckets, 0) {}

void TimeHistogram::clear()
{
    std::fill(counts_.begin(), counts_.end(), 0);
    total_ = 0;
}

int TimeHistogram::bucketOf(double ms)
{
    // A positive double's bits rise with its value: the exponent, then the
    // mantissa's leading bits, give its place among the buckets.
    if (!(ms > 0))
        return 0;
    const auto bits = std::bit_cast<std::uint64_t>(ms);
    const int exponent = int(bits >> kMantissaBits) - kExponentBias;
    if (exponent < kLowestExponent)
        return 0;
    if (exponent >= kHighestExponent)
        return kBuckets - 1;
    const int fraction = int((bits >> (kMantissaBits - kBucketBits)) & (kBucketsPerDoubling - 1));
    return (exponent - kLowestExponent) * kBucketsPerDoubling + fraction;
}

double TimeHistogram::lowMs(int bucket)
{
    const int exponent = bucket / kBucketsPerDoubling + kLowestExponent;
    const int fraction = bucket % kBucketsPerDoubling;
    return std::ldexp(1.0 + double(fraction) / kBucketsPerDoubling, exponent);
}

TimeHistogram::Place TimeHistogram::find(std::uint64_t rank) const
{
    Place place;
    for (int b = 0; b < kBuckets; ++b) {
        if (place.below + counts_[std::size_t(b)] >= rank) {
            place.bucket = b;
            return place;
        }
        place.below += counts_[std::size_t(b)];
    }
    place.bucket = kBuckets - 1;
    return place;
}

int TimeHistogram::firstUsed() const
{
    for (int b = 0; b < kBuckets; ++b) {
        if (counts_[std::size_t(b)] > 0)
            return b;
    }
    return 0;
}

int TimeHistogram::lastUsed() const
{
    for (int b = kBuckets - 1; b >= 0; --b) {
        if (counts_[std::size_t(b)] > 0)
            return b;
    }
    return -1;
}
