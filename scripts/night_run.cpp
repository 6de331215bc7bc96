// A night of a simulated string under float charge, kept in a history
// database for `qorv-host history --plot`: the host with the real plug-in
// against a simulated monitor on a pseudo-terminal, one round a simulated
// minute from 22:00 to 06:00, the host's and the monitor's clocks moved
// together so the night takes seconds. Block 18 sags from 23:30 and
// recovers at 05:00; the temperature rises from 01:00; the charger lifts
// the current for 45 minutes at 04:00. The device checks the blocks'
// deviation from the string's mean at the 12 V defaults. The site it ran
// is written to SITE when given, for the plot to draw its limits.
//
//   qorv-night-run night.db [night.json]
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "runner/lines/poller.h"
#include "sim_line.h"

namespace {

constexpr long kRoundS = 60;
constexpr unsigned kMinutes = 8 * 60 + 1;  // 22:00 to 06:00 inclusive
constexpr double kHour = 3600;

sim::Event Event(sim::Event::Kind kind, double at_h, double ramp_h, double for_h, double value) {
  sim::Event e;
  e.kind = kind;
  e.at_s = at_h * kHour;
  e.ramp_s = ramp_h * kHour;
  e.for_s = for_h * kHour;
  e.value = value;
  return e;
}

sim::MonitorProfile FloatingString() {
  sim::MonitorProfile m;
  m.address = 0x81;
  m.cells = 30;
  m.cell_volts = {13.45};
  m.drift_volts = 0.01;
  m.drift_period_s = 1.5 * kHour;
  m.noise_volts = 0.005;
  m.current_amps = 0.6;
  m.temperature_c = 23.0;
  sim::Event sag = Event(sim::Event::Kind::kCellDrop, 1.5, 4.0, 5.5, 11.7);
  sag.cell = 17;
  m.events = {sag, Event(sim::Event::Kind::kTemperatureRise, 3.0, 3.5, 0, 37.0),
              Event(sim::Event::Kind::kCurrentStep, 6.0, 0.25, 0.75, 2.5)};
  return m;
}

std::string Site(const std::string& port, const std::string& db) {
  return R"({"poll_period_s": 0.05, "reply_timeout_ms": 40, "history_db": ")" + db +
         R"(", "ports": [{"name": "rs485", "path": ")" + port + R"("}],
      "devices": [{"name": "string-A", "data_id": 11, "address": 1, "port": "rs485",
                   "config": {"appSetting": {"save_interval": 1}},
                   "limits": [{"name": "battery_*_value", "low": 12.0, "hysteresis": 0.1},
                              {"name": "temperature", "high": 35.0, "hysteresis": 1.0}],
                   "health": {"deviation_mv": {}}}]})";
}

}  // namespace

constexpr const char* kUsage =
    "usage: qorv-night-run DB [SITE]\n"
    "Runs a simulated night (22:00 to 06:00, one round a simulated minute) of one\n"
    "string against the plug-in and keeps it in the history database DB, for\n"
    "`qorv-host history --plot`. SITE: also write the site the night ran there.\n"
    "Options: -h, --help  this text. Exit status: 0 done; 1 failed or rows lost;\n"
    "2 usage error.\n";

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "qorv-night-run: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (argc != 2 && argc != 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    runner::testing::SimLine line({FloatingString()});
    if (argc == 3) {
      std::ofstream site_file(argv[2]);
      site_file << Site(line.Path(), argv[1]);
      if (!site_file.flush()) {
        std::fprintf(stderr, "qorv-night-run: %s: cannot write the site\n", argv[2]);
        return 1;
      }
    }
    runner::ManualHostClock clock(boost::posix_time::time_from_string("2026-12-08 22:00:00"));
    runner::PollerOptions options;
    options.clock = &clock;
    options.default_plugin = HALVEX_PLUGIN_PATH;
    options.event_sink = [](const std::string& e) { std::fprintf(stderr, "%s\n", e.c_str()); };
    runner::Poller host(
        runner::ParseSite(runner::ParseSiteJson(Site(line.Path(), argv[1]), "night site"),
                          "night site", ""),
        options);
    host.Start();
    // The clocks move on only after a round that published its record: a
    // round whose exchanges ran past its period on a busy machine leaves
    // its record to the next one, still in the same minute.
    unsigned minutes = 0;
    host.Run(0, [&](const runner::RoundReport& r) {
      if (r.published == 0) return;
      if (++minutes == kMinutes) return host.RequestStop();
      clock.Advance(kRoundS);
      line.SetTime(minutes * static_cast<double>(kRoundS));
    });
    host.Stop();
    const auto store = host.Store();
    std::fprintf(stderr, "%u rounds, %zu records and %zu alarm events stored, %zu lost\n",
                 host.rounds_reported(), store ? static_cast<std::size_t>(store->stored) : 0,
                 store ? static_cast<std::size_t>(store->alarms_stored) : 0,
                 store ? static_cast<std::size_t>(store->lost) : 0);
    return store && store->lost == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qorv-night-run: %s\n", e.what());
    return 1;
  }
}
