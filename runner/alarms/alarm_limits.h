#pragma once
// Alarm limits by value name, as a site gives them per device:
//
//   "limits": [
//     {"name": "battery_*_value", "low": 12.0, "high": 14.6, "hysteresis": 0.1},
//     {"name": "temperature", "high": 40, "hysteresis": 2}
//   ]
//
// A name may hold shell wildcards (`*`, `?`, `[...]`), so one entry covers
// every cell. A value name takes the entry whose name equals it; failing
// that, the first wildcard entry, in list order, that matches it.

#include <optional>
#include <string>
#include <vector>

namespace runner {

struct Limit {
  std::string name;           // value name or wildcard pattern
  std::optional<float> low;   // alarm below this
  std::optional<float> high;  // alarm above this
  float hysteresis = 0.0f;    // how far back inside a limit a value must come to clear
};

class LimitTable {
 public:
  LimitTable() = default;
  explicit LimitTable(std::vector<Limit> limits) : limits_(std::move(limits)) {}

  // The entry for `value_name`, or null when none applies.
  const Limit* Find(const std::string& value_name) const;
  bool empty() const { return limits_.empty(); }
  const std::vector<Limit>& limits() const { return limits_; }

 private:
  std::vector<Limit> limits_;
};

// True when `name` holds a wildcard character.
bool IsPattern(const std::string& name);

}  // namespace runner
