#include "sim/faults.h"

#include "sim/config_error.h"

namespace sim {
namespace {

constexpr const char* kNames[kFaultKinds] = {"drop",  "corrupt",  "wrong_address", "noise",
                                             "split", "trailing", "delay",         "silence"};

void RequirePositive(double value, const std::string& where) {
  if (!(value > 0)) throw ConfigError(where, "must be positive");
}

}  // namespace

const char* FaultName(Fault fault) { return kNames[FaultIndex(fault)]; }

void Validate(const FaultPlan& plan, const std::string& where) {
  for (size_t i = 0; i < kFaultKinds; ++i) {
    const FaultRule& rule = plan.rules[i];
    if (!(rule.rate >= 0 && rule.rate <= 1)) {
      throw ConfigError(Member(where, kNames[i]), "rate must lie in 0..1");
    }
    if (rule.count < 0) throw ConfigError(Member(where, kNames[i]), "count must not be negative");
  }
  RequirePositive(plan.noise_max_bytes, Member(where, "noise_max_bytes"));
  if (plan.split_max_chunks < 2)
    throw ConfigError(Member(where, "split_max_chunks"), "must be at least 2");
  if (plan.split_gap_ms < 0)
    throw ConfigError(Member(where, "split_gap_ms"), "must not be negative");
  RequirePositive(plan.trailing_max_bytes, Member(where, "trailing_max_bytes"));
  if (plan.delay_ms < 0) throw ConfigError(Member(where, "delay_ms"), "must not be negative");
  RequirePositive(plan.silence_s, Member(where, "silence_s"));
}

}  // namespace sim
