// halvex-sim: simulated battery monitors on a pseudo-terminal or a serial
// device, for end-to-end tests and the bench. All the work is in the
// halvex_sim library; this file turns options into a BusConfig, serves it
// and prints the counters when it stops.

#include <pthread.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

#include <CLI/CLI.hpp>

#include "sim/bus.h"
#include "sim/config.h"
#include "sim/config_error.h"
#include "sim/exchange.h"
#include "sim/port_server.h"
#include "sim/pty_link.h"
#include "support/bounded_file.h"
#include "support/command_line.h"

namespace {

struct Options {
  std::string serial;
  std::string link;
  std::string config_file;
  std::string address;
  std::string device_address;
  std::string profile;
  std::vector<std::string> monitors;
  std::vector<std::string> events;
  std::map<std::string, std::string> faults;  // fault key -> option text
  uint64_t seed = 0;
  bool pace = false;
  bool verbose = false;
  double duration_s = 0;
};

constexpr const char* kFaultOptions[][2] = {
    {"drop", "drop the reply"},
    {"corrupt", "change one byte of the reply"},
    {"wrong_address", "answer from another address (checksum kept right)"},
    {"noise", "send 1..noise_max_bytes random bytes (never 0xED) before the reply"},
    {"split", "send the reply in 2..split_max_chunks pieces with gaps"},
    {"trailing", "send 1..trailing_max_bytes random bytes after the reply"},
    {"delay", "start the reply delay_ms late"},
    {"silence", "answer nothing for silence_s seconds"},
    {"noise_max_bytes", "longest noise burst (default 8)"},
    {"split_max_chunks", "most pieces of a split reply (default 4)"},
    {"split_gap_ms", "longest gap between pieces (default 20)"},
    {"trailing_max_bytes", "most bytes after a reply (default 4)"},
    {"delay_ms", "delay of a delayed reply (default 300)"},
    {"silence_s", "length of an injected silence (default 5)"},
};
constexpr size_t kFaultRules = 8;  // the first entries above take RATE|Nx

std::string OptionName(std::string key) {
  for (char& c : key) c = c == '_' ? '-' : c;
  return "--" + key;
}

void DefineOptions(CLI::App& app, Options& o) {
  app.add_option("--serial", o.serial,
                 "Serve this serial device (raw 8N1, 19200 bit/s) instead of a new pseudo-terminal")
      ->group("Port");
  app.add_option("--link", o.link, "Also make a symlink at this path to the pseudo-terminal")
      ->group("Port");
  auto* address =
      app.add_option(
             "-a,--address", o.address,
             "Wire address byte the monitor answers to: the device's configured address + 0x80, "
             "mod 256 (configured 1 -> 0x81). Default 0x81")
          ->group("Monitor");
  app.add_option(
         "--device-address", o.device_address,
         "The device's configured address instead; the monitor answers to it + 0x80 (1 -> 0x81)")
      ->group("Monitor")
      ->excludes(address);
  app.add_option(
         "-p,--profile", o.profile,
         "Monitor keys as key=value,...: cells, cell_type (12|6), cell_volts (V or v1/v2/...), "
         "drift_volts, drift_period_s, noise_volts, noise_sigma_mv, group_scale (0.1|0.01), "
         "group_volts, current_amps, current_encoding (plain|sensor), temperature_c, "
         "spare_reading")
      ->group("Monitor");
  app.add_option("-m,--monitor", o.monitors,
                 "Add a monitor from monitor and fault keys, address= included "
                 "(e.g. address=0x82,cells=24,cell_type=6,drop=0.1); repeat for a bus")
      ->group("Monitor");
  app.add_option("-c,--config", o.config_file,
                 "JSON file: one monitor object, or {\"seed\",\"pace\",\"monitors\":[...]}")
      ->group("Monitor")
      ->check(CLI::ExistingFile);
  app.add_option(
         "-e,--event", o.events,
         "Scripted event: type,key=value,... with type cell_drop (cell, volts), cell_drift "
         "(cell, mv_per_hour), current_step (amps), temperature_rise (celsius), silence; at_s, "
         "for_s, ramp_s, recover_s; address= picks one monitor")
      ->group("Monitor");
  for (size_t i = 0; i < std::size(kFaultOptions); ++i) {
    const std::string key = kFaultOptions[i][0];
    app.add_option_function<std::string>(
           OptionName(key), [&o, key](const std::string& text) { o.faults[key] = text; },
           std::string(kFaultOptions[i][1]) +
               (i < kFaultRules ? ": a rate 0..1, or Nx for the first N replies" : ""))
        ->group("Faults (every monitor)")
        ->type_name(i < kFaultRules ? "RATE|Nx" : "NUMBER");
  }
  app.add_option("--seed", o.seed,
                 "Seed for noise, drift and faults; the same seed repeats a run byte for byte")
      ->group("Run");
  app.add_flag("--pace", o.pace, "Send reply bytes at the pace of 19200 bit/s (521 us a byte)")
      ->group("Run");
  app.add_flag("-v,--verbose", o.verbose,
               "Log each exchange in hex: '> FE FE 81 A1 22', '< ED 81 ... cs'")
      ->group("Run");
  app.add_option("--duration", o.duration_s,
                 "Stop after this many seconds (default: on SIGINT or SIGTERM)")
      ->group("Run");
}

// A settings file is small; a FIFO or a device such as /dev/zero is refused.
std::string ReadFile(const std::string& path) {
  try {
    return support::ReadBoundedFile(path, std::size_t{1} << 20, "a settings file");
  } catch (const support::FileError& e) {
    throw sim::ConfigError(path, e.problem());
  }
}

sim::MonitorSetup SingleMonitor(const Options& o) {
  std::string text = o.profile;
  if (!o.address.empty()) text += ",address=" + o.address;
  if (!o.device_address.empty()) text += ",device_address=" + o.device_address;
  return sim::ParseMonitorText(text, "--profile");
}

sim::BusConfig BuildConfig(const Options& o, const CLI::App& app) {
  sim::BusConfig config;
  if (!o.config_file.empty())
    config = sim::ParseBusConfig(sim::ParseJsonText(ReadFile(o.config_file), o.config_file));
  for (size_t i = 0; i < o.monitors.size(); ++i) {
    config.monitors.push_back(
        sim::ParseMonitorText(o.monitors[i], "--monitor[" + std::to_string(i) + "]"));
  }
  const bool single = !o.profile.empty() || !o.address.empty() || !o.device_address.empty();
  if (single && !config.monitors.empty()) {
    throw sim::ConfigError("--address/--profile",
                           "give each monitor of a bus with --monitor or --config instead");
  }
  if (config.monitors.empty()) config.monitors.push_back(SingleMonitor(o));
  for (const std::string& event : o.events) sim::AddEventText(config, event);
  Json::Value faults(Json::objectValue);
  for (const auto& [key, text] : o.faults) faults[key] = text;
  for (auto& setup : config.monitors)
    setup.faults = sim::ParseFaults(faults, "faults", setup.faults);
  if (app.count("--seed")) config.options.seed = o.seed;
  if (o.pace) config.options.pace = true;
  return config;
}

void Describe(const sim::BusConfig& config, const std::string& path) {
  std::cout << "halvex-sim serving on " << path << "\n";
  for (const sim::MonitorSetup& setup : config.monitors) {
    const sim::MonitorProfile& p = setup.profile;
    std::cout << "  monitor 0x" << sim::HexBytes({p.address}) << " (device address "
              << ((p.address + 0x80) & 0xFF) << "): " << p.cells << " blocks of "
              << static_cast<int>(p.cell_type) << " V, " << p.events.size() << " events\n";
  }
  std::cout << std::flush;
}

// Waits for SIGINT or SIGTERM (blocked in every thread), the end of the
// run, or a serving error.
void WaitForStop(const sim::PortServer& server, const sigset_t& signals, double duration_s) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(duration_s);
  const timespec tick{0, 200'000'000};
  for (;;) {
    if (sigtimedwait(&signals, nullptr, &tick) > 0) return;
    if (!server.Error().empty()) throw std::runtime_error(server.Error());
    if (duration_s > 0 && std::chrono::steady_clock::now() >= deadline) return;
  }
}

int Serve(const sim::BusConfig& config, const Options& o) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  sim::Bus bus(config);
  auto server = o.serial.empty() ? sim::PortServer::CreatePty(std::move(bus))
                                 : sim::PortServer::OpenSerial(o.serial, std::move(bus));
  if (o.verbose) {
    server->SetListener(
        [](const sim::Exchange& e) { std::cout << sim::FormatExchange(e) << std::flush; });
  }
  if (!o.link.empty()) sim::PlaceLink(server->Path(), o.link);
  Describe(config, server->Path());
  server->Start();
  std::string error;
  try {
    WaitForStop(*server, signals, o.duration_s);
  } catch (const std::exception& e) {
    error = e.what();
  }
  server->Stop();
  if (!o.link.empty()) sim::RemoveLinkIfOurs(server->Path(), o.link);
  std::cout << sim::FormatCounters(server->counters()) << std::flush;
  if (!error.empty()) throw std::runtime_error(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Simulated battery monitors on a serial line. Answers FE FE <addr> A1..A4 <cs> requests with "
      "cell, group voltage, current and temperature replies, with optional faults.\n"
      "Addresses are wire bytes: a device configured with address N sends N + 0x80 (mod 256)."};
  Options options;
  DefineOptions(app, options);
  std::string words;
  for (const std::string& word : sim::SettingsWords()) words += (words.empty() ? "" : ", ") + word;
  app.footer("Every key and event type a settings file (--config) may hold: " + words +
             ". Format: sim/README.md.");
  if (const std::optional<int> status = support::ParseCommandLine(app, argc, argv)) return *status;
  try {
    return Serve(BuildConfig(options, app), options);
  } catch (const sim::ConfigError& e) {
    std::cerr << "halvex-sim: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "halvex-sim: " << e.what() << "\n";
    return 1;
  }
}
