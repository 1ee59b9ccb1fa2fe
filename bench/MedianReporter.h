#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

// Prints Google Benchmark's usual console table and keeps, for each
// benchmark, the median CPU time per iteration over its repetitions, so that
// the program can compare benchmarks with each other afterwards. CPU time,
// because the machine is shared: other work stretches wall time at random.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    MedianReporter();

    void ReportRuns(const std::vector<Run> &runs) override;

    // Median CPU seconds per iteration of the benchmark named `name` (its
    // function name as registered), or a negative value when it did not run.
    double medianSeconds(const std::string &name) const;
    // Benchmarks that reported an error, with its text.
    const std::vector<std::string> &errors() const { return errors_; }

private:
    std::map<std::string, double> medians_;
    std::vector<std::string> errors_;
};
