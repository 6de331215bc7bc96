#include "bench/result_summary.h"

#include <unistd.h>

#include <algorithm>
#include <iomanip>
#include <sstream>

#include "bench/poll_round.h"

namespace halvex::bench {
namespace {

const double* Find(const Timings& timings, const char* name) {
  const auto found = timings.find(name);
  return found != timings.end() ? &found->second : nullptr;
}

std::string Fixed(double value, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << value;
  return text.str();
}

std::string Verdict(bool met) { return met ? "met" : "NOT MET"; }

std::string RoundLine(const Timings& timings, const char* name, const char* what) {
  const double* ns = Find(timings, name);
  if (ns == nullptr) return std::string(what) + ": not run";
  const double budget_ns = kRoundWireNanoseconds * kRoundBudgetShare;
  return std::string(what) + ": " + Fixed(*ns / 1000.0, 2) +
         " us = " + Fixed(*ns / kRoundWireNanoseconds * 100.0, 4) + " % of the " +
         Fixed(kRoundWireNanoseconds / 1e6, 1) + " ms on the wire (budget " +
         Fixed(kRoundBudgetShare * 100.0, 2) + " % = " + Fixed(budget_ns / 1000.0, 1) +
         " us): " + Verdict(*ns < budget_ns);
}

std::string RatioLine(const Timings& timings, const char* what, const char* ours,
                      const char* baseline, bool has_target) {
  const double* x = Find(timings, ours);
  const double* y = Find(timings, baseline);
  if (x == nullptr || y == nullptr) return std::string(what) + ": not run";
  const double ratio = *y / *x;
  std::string line = std::string(what) + ": " + Fixed(*x, 1) +
                     " ns, baseline regex: " + Fixed(*y, 1) + " ns, ratio Y/X = " + Fixed(ratio, 1);
  if (has_target)
    line += " (target >= " + Fixed(kQuerySpeedupTarget, 0) +
            "): " + Verdict(ratio >= kQuerySpeedupTarget);
  return line;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

double Nanoseconds(double adjusted, benchmark::TimeUnit unit) {
  return adjusted / benchmark::GetTimeUnitMultiplier(unit) * 1e9;
}

}  // namespace

std::vector<std::string> SummaryLines(const Timings& timings) {
  std::vector<std::string> lines = {
      RoundLine(timings, names::kRoundWallClock, "poll round (wall clock)"),
      RoundLine(timings, names::kRoundFrozenClock, "poll round (frozen clock)"),
      RatioLine(timings, "cell query", names::kCellQuery, names::kCellBaseline, true),
      RatioLine(timings, "group_voltage query", names::kGroupQuery, names::kGroupBaseline, false),
      RatioLine(timings, "unknown name query", names::kUnknownQuery, names::kUnknownBaseline,
                false),
  };
  if (const double* cell = Find(timings, names::kCellQuery))
    lines.push_back("all " + std::to_string(kChecksPerRound) +
                    " values of one string: " + Fixed(*cell * kChecksPerRound / 1000.0, 2) + " us");
  return lines;
}

CollectingReporter::CollectingReporter()
    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

void CollectingReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    const std::string name = run.run_name.str();
    if (run.error_occurred) {
      failures_.push_back(name + ": " + run.error_message);
    } else if (run.run_type == Run::RT_Iteration) {
      iterations_[name].push_back(Nanoseconds(run.GetAdjustedCPUTime(), run.time_unit));
    } else if (run.aggregate_name == "median") {
      medians_[name] = Nanoseconds(run.GetAdjustedCPUTime(), run.time_unit);
    }
  }
}

Timings CollectingReporter::CpuNanoseconds() const {
  Timings timings = medians_;
  for (const auto& [name, values] : iterations_)
    if (timings.count(name) == 0) timings[name] = Median(values);
  return timings;
}

}  // namespace halvex::bench
