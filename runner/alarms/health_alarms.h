#pragma once
// Alarm states of one string's health, raised and cleared with hysteresis.
//
// Each level of a limit is an alarm of its own: a block drifting away from
// the mean raises the warning, later the critical alarm, and on its way
// back clears the critical one, then the warning. A level's alarm is
// raised when the magnitude goes above it and cleared once it is back at
// the level minus the hysteresis or below. Changes come with:
//
//   name   "deviation_mv" (point: the cell's point number) or "spread_mv" (point 1)
//   text   "第18节电池 −112 mV from the mean (σ 13 mV)",
//          "spread 152 mV (第18节电池 to 第3节电池)"
//   value  the signed deviation or the spread, mV; limit: the level, mV

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "runner/alarms/alarm_book.h"
#include "runner/alarms/health_limits.h"
#include "runner/alarms/string_health.h"

namespace runner {

inline constexpr const char* kDeviationAlarm = "deviation_mv";
inline constexpr const char* kSpreadAlarm = "spread_mv";

class HealthAlarms {
 public:
  explicit HealthAlarms(HealthLimits limits = {}) : limits_(std::move(limits)) {}

  // Checks one round's health; `first_number` is the number of the
  // device's cell 0, so that cell k is "battery_<k>_value". Returns the
  // changes, clears before raises. A cell without a reading this round
  // keeps its state.
  std::vector<AlarmChange> Check(const StringHealth& health, int first_number);

  // Alarms that hold: the spread first, then the cells in order, each
  // cell's warning before its critical alarm.
  std::vector<ActiveAlarm> Active() const;
  const HealthLimits& limits() const { return limits_; }

 private:
  using Key = std::tuple<int, int, AlarmKind>;  // 0 spread / 1 cell, point, kind
  void Measure(const Key& key, const HealthLevels& levels, double signed_mv, const char* name,
               const std::string& text, std::vector<AlarmChange>& clears,
               std::vector<AlarmChange>& raises);

  HealthLimits limits_;
  std::map<Key, ActiveAlarm> active_;
};

// "第18节电池": how the device names its cell with this number.
std::string CellText(int number);

}  // namespace runner
