#pragma once
// What one simulated monitor measures: its battery string, and the scripted
// events that change it over a run.
//
// The default profile is a 30-block string of 12 V blocks floating at about
// 13.3 V a block, answering on wire address 0x81 (configured address 1).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/scaling.h"

namespace sim {

// A change to the string at a point of the simulator's clock.
struct Event {
  enum class Kind {
    kCellDrop,         // one block sags, typically below its window
    kCellDrift,        // one block drifts at a steady rate, then recovers
    kCurrentStep,      // the string current moves to a new value
    kTemperatureRise,  // the temperature moves to a new value
    kSilence,          // the monitor answers nothing
  };
  Kind kind = Kind::kSilence;
  double at_s = 0.0;    // start, seconds on the simulator clock
  double for_s = 0.0;   // length in seconds; 0 lasts to the end of the run
  double ramp_s = 0.0;  // the value moves linearly to its target over this time
  int cell = 0;         // kCellDrop, kCellDrift: 0-based block index
  // target: volts (kCellDrop), amps (kCurrentStep), degC (kTemperatureRise);
  // kCellDrift: its rate in millivolts an hour, negative downwards
  double value = 0.0;
  double recover_s = 0.0;  // kCellDrift: back to its resting voltage over this time after for_s

  // True while the event holds at time t (seconds).
  bool ActiveAt(double t) const;
  // 0..1: how far the ramp has gone at time t; 1 once it is complete.
  double ProgressAt(double t) const;
  // kCellDrift: volts it adds to its block at time t.
  double DriftAt(double t) const;
};

struct MonitorProfile {
  uint8_t address = 0x81;  // wire address: configured address + 0x80, mod 256
  int cells = 30;          // blocks in the string, 1..32
  CellType cell_type = CellType::kTwelveVolt;
  // One voltage for every block, or one per block.
  std::vector<double> cell_volts{13.3};
  double drift_volts = 0.02;  // amplitude of each block's slow sine drift
  double drift_period_s = 600.0;
  double noise_volts = 0.003;   // each reading moves by up to this much, uniformly
  double noise_sigma_mv = 0.0;  // and by Gaussian noise of this standard deviation
  GroupScale group_scale = GroupScale::kDeciVolt;
  std::optional<double> group_volts;  // the string voltage; unset: the sum of the blocks
  double current_amps = 0.0;          // positive charges the string
  CurrentEncoding current_encoding = CurrentEncoding::kPlain;
  double temperature_c = 25.0;
  uint16_t spare_reading = 0;  // sent in the cell-reply slots beyond `cells`
  std::vector<Event> events;

  // The resting voltage of block `cell`, before drift, noise and events.
  double BaseVolts(int cell) const;
};

// Throws ConfigError naming the first field that is out of range. `where`
// prefixes the field name in the message.
void Validate(const MonitorProfile& profile, const std::string& where = "monitor");

}  // namespace sim
