// A console reporter that also remembers each benchmark's real time per iteration, so
// that a benchmark program can print ratios between its runs at the end.
#ifndef LUMORA_BENCH_RATIO_REPORTER_H_
#define LUMORA_BENCH_RATIO_REPORTER_H_

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) times[run.benchmark_name()] = run.GetAdjustedRealTime();
  }
  std::map<std::string, double> times;
};

#endif  // LUMORA_BENCH_RATIO_REPORTER_H_
