#pragma once
// One battery monitor on the bus: a string model that answers requests.
//
//   > FE FE 81 A1 22     < ED 81 [32 readings] cs     cell voltages
//   > FE FE 81 A2 23     < ED 81 hi lo cs              group voltage
//   > FE FE 81 A3 24     < ED 81 hi lo cs              current
//   > FE FE 81 A4 25     < ED 81 hi lo cs              temperature
//
// The model is a pure function of the profile, the seed and the time asked
// about: each block sits at its resting voltage plus a slow sine drift (a
// phase of its own) plus noise hashed from the time, and scripted events
// bend the values from their start time on. Asking twice about the same
// moment gives the same answer, so a test can compare what a device decoded
// with ReadingsAt() for the moment of the request.

#include <array>
#include <cstdint>

#include "sim/clock.h"
#include "sim/profile.h"
#include "sim/wire.h"

namespace sim {

// The string at one moment, in volts, amperes and degrees Celsius.
struct StringState {
  std::array<double, kCellReadings> cell_volts{};  // blocks beyond the cell count are 0
  double group_volts = 0.0;
  double current_amps = 0.0;
  double temperature_c = 0.0;
};

// The same moment as wire readings.
struct Readings {
  std::array<uint16_t, kCellReadings> cells{};  // slots beyond the cell count hold spare_reading
  uint16_t group = 0;
  uint16_t current = 0;
  uint16_t temperature = 0;
};

class Monitor {
 public:
  // Throws ConfigError when the profile is out of range.
  explicit Monitor(MonitorProfile profile, uint64_t seed = 1);

  const MonitorProfile& profile() const { return profile_; }
  uint8_t address() const { return profile_.address; }

  StringState StateAt(Micros now) const;
  Readings ReadingsAt(Micros now) const;
  // True while a scripted silence holds.
  bool SilentAt(Micros now) const;

  // The reply frame to `command` at `now`, ignoring scripted silence.
  Bytes Answer(Command command, Micros now) const;

  // The reply to one 5-byte request, or nothing: a real monitor on a shared
  // line keeps quiet for another address, a bad checksum, an unknown
  // command, or while it is silent.
  Bytes Reply(const Bytes& request, Micros now = Micros{0}) const;

 private:
  double CellVolts(int cell, double t, Micros now) const;

  MonitorProfile profile_;
  uint64_t seed_;
};

}  // namespace sim
