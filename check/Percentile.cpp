#include "Percentile.h"

#include <algorithm>
#include <cmath>

std::uint64_t Percentile::rank(std::uint64_t count, double p)
{
    if (count == 0)
        return 0;
    const auto r = std::uint64_t(std::ceil(p * double(count) / 100.0));
    return std::clamp<std::uint64_t>(r, 1, count);
}

std::vector<double> Percentile::exact(std::vector<double> &values, std::span<const double> ps)
{
    std::vector<double> found(ps.size(), 0.0);
    auto from = values.begin();
    for (std::size_t i = 0; i < ps.size(); ++i) {
        const std::uint64_t r = rank(values.size(), ps[i]);
        if (r == 0)
            break;
        // Each percentile is selected among the values above the previous
        // one: a million times cost about twice one selection, not three.
        const auto nth = values.begin() + std::ptrdiff_t(r - 1);
        if (nth >= from) {
            std::nth_element(from, nth, values.end());
            from = nth;
        }
        found[i] = *nth;
    }
    return found;
}
