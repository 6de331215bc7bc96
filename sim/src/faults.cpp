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
      throw ConfigError(Field(where, kNames[i]), "rate must lie in 0..1");
    }
    if (rule.count < 0) throw ConfigError(Field(where, kNames[i]), "count must not be negative");
  }
  RequirePositive(plan.noise_max_bytes, Field(where, "noise_max_bytes"));
  if (plan.split_max_chunks < 2)
    throw ConfigError(Field(where, "split_max_chunks"), "must be at least 2");
  if (plan.split_gap_ms < 0)
    throw ConfigError(Field(where, "split_gap_ms"), "must not be negative");
  RequirePositive(plan.trailing_max_bytes, Field(where, "trailing_max_bytes"));
  if (plan.delay_ms < 0) throw ConfigError(Field(where, "delay_ms"), "must not be negative");
  RequirePositive(plan.silence_s, Field(where, "silence_s"));
}

}  // namespace sim
