#pragma once

#include <QString>

#include <algorithm>

// The lines every benchmark prints for bench/run_all.sh to gather into one
// table: "SUMMARY<TAB>figure<TAB>value<TAB>target<TAB>reference<TAB>status",
// status being "ok", "MISSED" or "-" for a figure without a target.
namespace Summary {

enum class Status { Met, Missed, NoTarget };

inline Status judge(bool met)
{
    return met ? Status::Met : Status::Missed;
}

// An empty target or reference prints as "-".
void print(const QString &figure, const QString &value, const QString &target,
           const QString &reference, Status status);

// A number with `decimals` decimals and its unit, e.g. number(12.5, 1, "ms").
QString number(double value, int decimals, const QString &unit = QString());

// The middle of `values`, the mean of the two middle ones for an even
// count; `values` is a container of doubles with at least one.
template <typename Values> double median(Values values)
{
    std::sort(values.begin(), values.end());
    const auto n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace Summary
