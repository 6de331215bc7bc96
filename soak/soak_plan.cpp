#include "soak/soak_plan.h"

#include "sim/monitor.h"

namespace soak {
namespace {

constexpr int kCells = 30;
constexpr double kBaseCellVolts = 12.40;

unsigned CoveredSum(const sim::MonitorProfile& profile, sim::Command command) {
  const sim::Bytes frame = sim::Monitor(profile).Answer(command, sim::Micros{0});
  unsigned sum = 0;
  for (std::size_t i = 1; i + 1 < frame.size(); ++i) sum += frame[i];
  return sum & 0xFF;
}

// Moves one setting of `profile` a count at a time, from `counts` on, until
// the reply to `command` covers a sum that shares its remainder modulo 254.
template <typename Set>
void TuneToTwinSum(sim::MonitorProfile& profile, sim::Command command, long counts, Set set) {
  for (long step = 0; step < 256; ++step) {
    set(profile, counts + step);
    if (SharesRemainder(CoveredSum(profile, command))) return;
  }
}

}  // namespace

sim::FaultPlan SoakPlan::DefaultFaults() {
  sim::FaultPlan plan;
  plan[sim::Fault::kDrop].rate = 0.02;
  plan[sim::Fault::kCorrupt].rate = 0.02;
  plan[sim::Fault::kWrongAddress].rate = 0.01;
  plan[sim::Fault::kNoise].rate = 0.05;
  plan[sim::Fault::kSplit].rate = 0.20;
  plan[sim::Fault::kTrailing].rate = 0.02;
  plan[sim::Fault::kDelay].rate = 0.01;
  plan[sim::Fault::kSilence].rate = 0.002;
  plan.split_gap_ms = 2.0;
  plan.delay_ms = 30.0;
  plan.silence_s = 0.3;
  return plan;
}

unsigned DataIdOf(int index) { return static_cast<unsigned>(index + 1); }

unsigned AddressOf(const SoakPlan& plan, int index) {
  return static_cast<unsigned>(index % plan.monitors_per_bus + 1);
}

bool SharesRemainder(unsigned sum) { return sum <= 1 || sum >= 254; }

sim::MonitorProfile SteadyProfile(int index, int monitors_per_bus) {
  using sim::Command;
  sim::MonitorProfile profile;
  profile.address = static_cast<std::uint8_t>(index % monitors_per_bus + 1 + 0x80);
  profile.cells = kCells;
  profile.cell_volts.clear();
  for (int cell = 0; cell < kCells; ++cell)
    profile.cell_volts.push_back(kBaseCellVolts + 0.1 * index + 0.01 * cell);
  profile.drift_volts = 0.0;
  profile.noise_volts = 0.0;
  TuneToTwinSum(profile, Command::kCellVoltages, 0,
                [](auto& p, long counts) { p.spare_reading = static_cast<std::uint16_t>(counts); });
  TuneToTwinSum(profile, Command::kGroupVoltage, 3800 + 10 * index,
                [](auto& p, long counts) { p.group_volts = counts / 10.0; });
  TuneToTwinSum(profile, Command::kCurrent, 50 + 10 * index,
                [](auto& p, long counts) { p.current_amps = counts / 10.0; });
  TuneToTwinSum(profile, Command::kTemperature, 2500 + 100 * index,
                [](auto& p, long counts) { p.temperature_c = counts / 100.0; });
  return profile;
}

sim::BusConfig BusOf(const SoakPlan& plan, int bus) {
  sim::BusConfig config;
  config.options.seed = plan.seed + static_cast<std::uint64_t>(bus);
  config.options.pace = false;
  for (int m = 0; m < plan.monitors_per_bus; ++m) {
    sim::MonitorSetup setup;
    setup.profile = SteadyProfile(bus * plan.monitors_per_bus + m, plan.monitors_per_bus);
    setup.faults = plan.faults;
    config.monitors.push_back(setup);
  }
  return config;
}

sim::Bytes CleanReply(const SoakPlan& plan, int bus, std::uint8_t address, std::uint8_t command) {
  for (int m = 0; m < plan.monitors_per_bus; ++m) {
    const sim::MonitorProfile profile =
        SteadyProfile(bus * plan.monitors_per_bus + m, plan.monitors_per_bus);
    if (profile.address == address)
      return sim::Monitor(profile).Answer(static_cast<sim::Command>(command), sim::Micros{0});
  }
  return {};
}

Json::Value SiteOf(const SoakPlan& plan, const std::vector<std::string>& paths,
                   const std::string& plugin, const std::string& history_db) {
  Json::Value site(Json::objectValue);
  site["plugin"] = plugin;
  site["poll_period_s"] = plan.poll_period_s;
  site["reply_timeout_ms"] = plan.reply_timeout_ms;
  site["history_db"] = history_db;
  site["save_interval_minutes"] = 1;
  for (int bus = 0; bus < plan.buses; ++bus) {
    Json::Value port(Json::objectValue);
    port["name"] = "bus-" + std::to_string(bus);
    port["path"] = paths.at(static_cast<std::size_t>(bus));
    site["ports"].append(port);
  }
  for (int index = 0; index < plan.buses * plan.monitors_per_bus; ++index) {
    Json::Value device(Json::objectValue);
    device["name"] = "string-" + std::to_string(index);
    device["data_id"] = DataIdOf(index);
    device["address"] = AddressOf(plan, index);
    device["port"] = "bus-" + std::to_string(index / plan.monitors_per_bus);
    device["config"]["appSetting"] = Json::objectValue;
    site["devices"].append(device);
  }
  return site;
}

}  // namespace soak
