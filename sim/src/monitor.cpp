#include "sim/monitor.h"

#include <cmath>

#include "random.h"

namespace sim {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kVoltsPerMillivolt = 0.001;

using Kind = Event::Kind;

// Moves `normal` towards each active event's target of `kind`, in script order.
double ApplyEvents(const MonitorProfile& profile, Kind kind, double t, double normal,
                   int cell = -1) {
  double value = normal;
  for (const Event& event : profile.events) {
    if (event.kind != kind || !event.ActiveAt(t)) continue;
    if (kind == Kind::kCellDrop && event.cell != cell) continue;
    value += (event.value - value) * event.ProgressAt(t);
  }
  return value;
}

// Gaussian noise of standard deviation 1 from a hash (Box-Muller), so a
// seed gives the same readings with any standard library.
double StandardNormal(uint64_t key) {
  const double u1 = 1.0 - internal::UnitFromHash(internal::Mix(key, 1));  // (0, 1]
  const double u2 = internal::UnitFromHash(internal::Mix(key, 2));
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * u2);
}

double Drifts(const MonitorProfile& profile, int cell, double t) {
  double volts = 0.0;
  for (const Event& event : profile.events)
    if (event.kind == Kind::kCellDrift && event.cell == cell) volts += event.DriftAt(t);
  return volts;
}

}  // namespace

Monitor::Monitor(MonitorProfile profile, uint64_t seed)
    : profile_(std::move(profile)), seed_(seed) {
  Validate(profile_);
}

double Monitor::CellVolts(int cell, double t, Micros now) const {
  const uint64_t cell_key =
      internal::Mix(seed_, profile_.address * 64u + static_cast<uint64_t>(cell));
  const double phase = kTwoPi * internal::UnitFromHash(cell_key);
  const double drift =
      profile_.drift_volts * std::sin(kTwoPi * t / profile_.drift_period_s + phase);
  const uint64_t noise_key = internal::Mix(cell_key, static_cast<uint64_t>(now.count()));
  double noise = profile_.noise_volts * (2.0 * internal::UnitFromHash(noise_key) - 1.0);
  if (profile_.noise_sigma_mv > 0)
    noise += profile_.noise_sigma_mv * kVoltsPerMillivolt * StandardNormal(noise_key);
  const double resting = profile_.BaseVolts(cell) + Drifts(profile_, cell, t);
  return ApplyEvents(profile_, Kind::kCellDrop, t, resting + drift + noise, cell);
}

StringState Monitor::StateAt(Micros now) const {
  const double t = ToSeconds(now);
  StringState state;
  double sum = 0.0;
  for (int cell = 0; cell < profile_.cells; ++cell) {
    state.cell_volts[cell] = CellVolts(cell, t, now);
    sum += state.cell_volts[cell];
  }
  state.group_volts = profile_.group_volts.value_or(sum);
  state.current_amps = ApplyEvents(profile_, Kind::kCurrentStep, t, profile_.current_amps);
  state.temperature_c = ApplyEvents(profile_, Kind::kTemperatureRise, t, profile_.temperature_c);
  return state;
}

Readings Monitor::ReadingsAt(Micros now) const {
  const StringState state = StateAt(now);
  Readings readings;
  readings.cells.fill(profile_.spare_reading);
  for (int cell = 0; cell < profile_.cells; ++cell) {
    readings.cells[cell] = CellCounts(state.cell_volts[cell], profile_.cell_type);
  }
  readings.group = GroupCounts(state.group_volts, profile_.group_scale);
  readings.current = CurrentCounts(state.current_amps, profile_.current_encoding);
  readings.temperature = TemperatureCounts(state.temperature_c);
  return readings;
}

bool Monitor::SilentAt(Micros now) const {
  const double t = ToSeconds(now);
  for (const Event& event : profile_.events) {
    if (event.kind == Kind::kSilence && event.ActiveAt(t)) return true;
  }
  return false;
}

Bytes Monitor::Answer(Command command, Micros now) const {
  const Readings readings = ReadingsAt(now);
  switch (command) {
    case Command::kCellVoltages: return EncodeCellReply(address(), readings.cells);
    case Command::kGroupVoltage: return EncodeScalarReply(address(), readings.group);
    case Command::kCurrent: return EncodeScalarReply(address(), readings.current);
    case Command::kTemperature: return EncodeScalarReply(address(), readings.temperature);
  }
  return {};
}

Bytes Monitor::Reply(const Bytes& request, Micros now) const {
  const auto decoded = DecodeRequest(request);
  if (!decoded || decoded->address != address() || !IsKnownCommand(decoded->code)) return {};
  if (SilentAt(now)) return {};
  return Answer(static_cast<Command>(decoded->code), now);
}

}  // namespace sim
