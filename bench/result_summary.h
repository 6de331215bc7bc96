#pragma once
// The figures a benchmark run exists to show, computed by the run itself:
// the poll round against its share of the wire time, and each value query
// as a ratio to the regex baseline measured in the same run.

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace halvex::bench {

// Benchmark names the summary reads. Every query pair uses the same device
// class apart from the name matching.
namespace names {
constexpr const char* kRoundWallClock = "poll_round/wall_clock";
constexpr const char* kRoundFrozenClock = "poll_round/frozen_clock";
constexpr const char* kCellQuery = "query/battery_17_value";
constexpr const char* kGroupQuery = "query/group_voltage";
constexpr const char* kUnknownQuery = "query/unknown_name";
constexpr const char* kCellBaseline = "regex_baseline/battery_17_value";
constexpr const char* kGroupBaseline = "regex_baseline/group_voltage";
constexpr const char* kUnknownBaseline = "regex_baseline/unknown_name";
}  // namespace names

// Share of a round's wire time that the plug-in may spend on the round.
constexpr double kRoundBudgetShare = 0.0005;  // 0.05 %
// How much faster a cell query must be than the regex baseline.
constexpr double kQuerySpeedupTarget = 100.0;

// CPU nanoseconds per operation, by benchmark name (median over
// repetitions).
using Timings = std::map<std::string, double>;

// The summary lines for `timings`; figures that did not run say so.
std::vector<std::string> SummaryLines(const Timings& timings);

// The console reporter, which also keeps every run's CPU time per
// iteration for the summary.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a saved run reads as plain text.
  CollectingReporter();

  void ReportRuns(const std::vector<Run>& runs) override;

  Timings CpuNanoseconds() const;
  // Names of the benchmarks that reported an error.
  const std::vector<std::string>& Failures() const { return failures_; }

 private:
  std::map<std::string, std::vector<double>> iterations_;
  Timings medians_;  // aggregates, when the run computed them
  std::vector<std::string> failures_;
};

}  // namespace halvex::bench
