#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Percentiles by the nearest-rank method: the p-th percentile is the smallest
// value that at least p percent of the values do not exceed. Both programs
// show their percentiles by it, so that they agree on the same times.
namespace Percentile {

// The 1-based rank of the p-th percentile among `count` values (0 < p <= 100);
// 0 when there are none.
//   rank(4, 50) == 2    rank(100, 95) == 95    rank(20, 99) == 20
std::uint64_t rank(std::uint64_t count, double p);

// The exact percentiles `ps` (ascending) of `values`, which are left in an
// unspecified order; 0 for each when there are none.
//   exact({4, 1, 3, 2}, {50, 95}) == {2, 4}
std::vector<double> exact(std::vector<double> &values, std::span<const double> ps);

} // namespace Percentile
