#include "MedianReporter.h"

MedianReporter::MedianReporter() : benchmark::ConsoleReporter(OO_Tabular) {}

void MedianReporter::ReportRuns(const std::vector<Run> &runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
        if (run.error_occurred) {
            errors_.push_back(run.run_name.function_name + ": " + run.error_message);
            continue;
        }
        // With one repetition there is no aggregate; the single run is its
        // own median.
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
        if (median || single)
            medians_[run.run_name.function_name] =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
}

double MedianReporter::medianSeconds(const std::string &name) const
{
    const auto found = medians_.find(name);
    return found == medians_.end() ? -1.0 : found->second;
}
