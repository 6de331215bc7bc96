#pragma once
// Limits on a string's health, as a site gives them per device:
//
//   "health": {
//     "deviation_mv": {"warning": 80, "critical": 150, "hysteresis": 15,
//                      "cells": "battery_*_value"},
//     "spread_mv": {"warning": 200, "critical": 300, "hysteresis": 20}
//   }
//
// `deviation_mv` is the distance of each block from the string's mean,
// |cell - mean|; `spread_mv` the highest block minus the lowest. Each level
// raises its own alarm above it and clears it at the level minus the
// hysteresis or below. A limit given without levels takes the defaults for
// the device's blocks (DefaultDeviation, DefaultSpread).

#include <optional>
#include <string>

namespace runner {

struct HealthLevels {
  std::optional<float> warning_mv;
  std::optional<float> critical_mv;
  float hysteresis_mv = 0.0f;
};

struct HealthLimits {
  std::optional<HealthLevels> deviation;
  // The cells whose deviation is checked: a value name or a wildcard, as
  // in "limits"; a wildcard covers only the cells the device has.
  std::string deviation_cells = "battery_*_value";
  std::optional<HealthLevels> spread;

  bool empty() const { return !deviation && !spread; }
};

// Levels that suit lead-acid blocks of `block_volts` (12 or 6) on float.
HealthLevels DefaultDeviation(int block_volts);
HealthLevels DefaultSpread(int block_volts);

}  // namespace runner
