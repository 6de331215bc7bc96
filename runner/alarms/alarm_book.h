#pragma once
// Alarm states of one device's values, raised and cleared with hysteresis.
//
// A value goes into a low alarm when it falls below `low` and leaves it only
// once it is back at `low + hysteresis` or above; a high alarm likewise
// above `high`, clearing at `high - hysteresis` or below. The band keeps a
// value that hovers at a limit from raising and clearing every round. A
// value that jumps from one side straight to the other clears the one alarm
// and raises the other in the same check.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "runner/alarms/alarm_limits.h"

namespace runner {

// Low and high: a value against its limits. Warning and critical: the
// string's health against its levels (HealthAlarms).
enum class AlarmKind { kLow, kHigh, kWarning, kCritical };
const char* AlarmKindName(AlarmKind kind);  // "low", "high", "warning", "critical"
// The kind named so; low for a name that is none.
AlarmKind AlarmKindNamed(const std::string& name);

// One state change of one value.
struct AlarmChange {
  std::string name;  // value name, e.g. "battery_17_value"
  std::string text;  // the device's display text, e.g. "第18节电池"
  int point = 0;     // the device's 1-based point number
  AlarmKind kind = AlarmKind::kLow;
  bool raised = false;  // false: cleared
  float value = 0.0f;
  float limit = 0.0f;  // the limit crossed
};

// An alarm that holds now.
struct ActiveAlarm {
  std::string name;
  std::string text;
  int point = 0;
  AlarmKind kind = AlarmKind::kLow;
  float value = 0.0f;  // latest value seen
  float limit = 0.0f;
  std::string since;  // when it was raised, as the host states instants; "" unknown
};

// Text order with runs of digits compared as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

class AlarmBook {
 public:
  explicit AlarmBook(LimitTable limits = {}) : limits_(std::move(limits)) {}

  // Checks one value against its limit; returns the state changes, in the
  // order they happen (a clear before a raise). Values without a limit and
  // NaN values change nothing.
  std::vector<AlarmChange> Check(const std::string& name, const std::string& text, float value,
                                 int point);

  // Restricts wildcard limits to these cell indices (battery_<k>_value):
  // a pattern over every cell must not alarm on an empty slot. A limit
  // that names a cell exactly still applies. Default: every cell.
  void SetCells(std::vector<int> cells) { cells_ = std::move(cells); }

  // Alarms that hold, in natural order of their value names: battery_2_value
  // before battery_10_value.
  std::vector<ActiveAlarm> Active() const;
  const LimitTable& limits() const { return limits_; }

 private:
  const Limit* LimitFor(const std::string& name) const;

  LimitTable limits_;
  std::optional<std::vector<int>> cells_;
  std::map<std::string, ActiveAlarm> active_;
};

}  // namespace runner
