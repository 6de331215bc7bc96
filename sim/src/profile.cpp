#include "sim/profile.h"

#include <algorithm>
#include <string>

#include "sim/config_error.h"
#include "sim/wire.h"

namespace sim {
namespace {

constexpr int kMaxCells = static_cast<int>(kCellReadings);

void ValidateEvent(const Event& event, const MonitorProfile& profile, const std::string& where) {
  if (event.at_s < 0) throw ConfigError(Member(where, "at_s"), "must not be negative");
  if (event.for_s < 0) throw ConfigError(Member(where, "for_s"), "must not be negative");
  if (event.ramp_s < 0) throw ConfigError(Member(where, "ramp_s"), "must not be negative");
  if (event.kind == Event::Kind::kSilence && event.for_s <= 0) {
    throw ConfigError(Member(where, "for_s"), "a silence needs a length in seconds");
  }
  if (event.recover_s < 0) throw ConfigError(Member(where, "recover_s"), "must not be negative");
  const bool on_cell =
      event.kind == Event::Kind::kCellDrop || event.kind == Event::Kind::kCellDrift;
  if (on_cell && (event.cell < 0 || event.cell >= profile.cells)) {
    throw ConfigError(Member(where, "cell"), "must name a block 0.." +
                                                 std::to_string(profile.cells - 1) + ", got " +
                                                 std::to_string(event.cell));
  }
}

}  // namespace

bool Event::ActiveAt(double t) const { return t >= at_s && (for_s <= 0 || t < at_s + for_s); }

double Event::ProgressAt(double t) const {
  if (ramp_s <= 0) return 1.0;
  return std::clamp((t - at_s) / ramp_s, 0.0, 1.0);
}

double Event::DriftAt(double t) const {
  constexpr double kSecondsAnHour = 3600.0, kVoltsPerMillivolt = 0.001;
  if (kind != Kind::kCellDrift || t < at_s) return 0.0;
  const bool ended = for_s > 0 && t > at_s + for_s;
  const double drifted = (ended ? for_s : t - at_s) / kSecondsAnHour * value * kVoltsPerMillivolt;
  if (!ended) return drifted;
  const double back = recover_s > 0 ? std::clamp((t - at_s - for_s) / recover_s, 0.0, 1.0) : 1.0;
  return drifted * (1.0 - back);
}

double MonitorProfile::BaseVolts(int cell) const {
  if (cell_volts.size() == 1) return cell_volts.front();
  return cell_volts.at(static_cast<size_t>(cell));
}

void Validate(const MonitorProfile& profile, const std::string& where) {
  if (profile.address == kPreamble) {
    throw ConfigError(Member(where, "address"),
                      "0xFE is the request preamble and cannot be served");
  }
  if (profile.cells < 1 || profile.cells > kMaxCells) {
    throw ConfigError(Member(where, "cells"),
                      "must lie in 1..32, got " + std::to_string(profile.cells));
  }
  const size_t volts = profile.cell_volts.size();
  if (volts != 1 && volts != static_cast<size_t>(profile.cells)) {
    throw ConfigError(Member(where, "cell_volts"), "needs one value or one per block (" +
                                                       std::to_string(profile.cells) + "), got " +
                                                       std::to_string(volts));
  }
  if (profile.drift_period_s <= 0)
    throw ConfigError(Member(where, "drift_period_s"), "must be positive");
  if (profile.drift_volts < 0)
    throw ConfigError(Member(where, "drift_volts"), "must not be negative");
  if (profile.noise_volts < 0)
    throw ConfigError(Member(where, "noise_volts"), "must not be negative");
  if (profile.noise_sigma_mv < 0)
    throw ConfigError(Member(where, "noise_sigma_mv"), "must not be negative");
  for (size_t i = 0; i < profile.events.size(); ++i) {
    ValidateEvent(profile.events[i], profile, Member(where, "events[" + std::to_string(i) + "]"));
  }
}

}  // namespace sim
