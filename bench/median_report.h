// The usual console report, plus the median CPU time per packet of every
// benchmark over its repetitions, and each packet path beside its memcpy
// baseline as a ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

// Nanoseconds of CPU time per iteration, every repetition, by benchmark name.
using timings = std::map<std::string, std::vector<double>>;

class median_reporter : public benchmark::ConsoleReporter {
  public:
    explicit median_reporter(timings& collected) : collected_(collected) {}
    void ReportRuns(const std::vector<Run>& runs) override;

  private:
    timings& collected_;
};

double median_of(std::vector<double> values);

// One line per benchmark with its median; then "path/X" against "baseline/X".
void print_medians(const timings& collected);
