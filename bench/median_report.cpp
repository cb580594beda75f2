#include "median_report.h"

#include <algorithm>
#include <cstdio>

void median_reporter::ReportRuns(const std::vector<Run>& runs)
{
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration || run.error_occurred)
            continue;
        const double units_per_second = benchmark::GetTimeUnitMultiplier(run.time_unit);
        collected_[run.run_name.function_name].push_back(run.GetAdjustedCPUTime() /
                                                         units_per_second * 1e9);
    }
}

double median_of(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2.0;
}

void print_medians(const timings& collected)
{
    std::printf("\nMedian CPU time per packet (ns), over %zu repetition(s):\n",
                collected.empty() ? std::size_t{0} : collected.begin()->second.size());
    for (const auto& [name, values] : collected)
        std::printf("  %-28s %9.1f\n", name.c_str(), median_of(values));

    std::printf("\nPacket path against the memcpy of the same bytes:\n");
    std::printf("  %-16s %10s %10s %8s\n", "mode/prefix", "path ns", "memcpy ns", "ratio");
    for (const auto& [name, values] : collected) {
        if (name.rfind("path/", 0) != 0)
            continue;
        const std::string which = name.substr(5);
        const auto baseline = collected.find("baseline/" + which);
        if (baseline == collected.end())
            continue;
        const double path = median_of(values);
        const double copy = median_of(baseline->second);
        std::printf("  %-16s %10.1f %10.1f %8.1f\n", which.c_str(), path, copy,
                    copy > 0.0 ? path / copy : 0.0);
    }
}
