#include "soak/soak_run.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include <boost/date_time/gregorian/gregorian_types.hpp>

#include "runner/history/history_store.h"
#include "runner/lines/poller.h"
#include "runner/round/battery_record.h"
#include "runner/site/site.h"
#include "sim/port_server.h"

namespace soak {
namespace {

using Steady = std::chrono::steady_clock;

constexpr long kMinuteSeconds = 60;
constexpr std::chrono::milliseconds kLoopWait{2};
constexpr std::size_t kEventsKept = 50;
constexpr int kCells = 30;

// What a device decodes from its monitor's clean replies, with the default
// configuration: cells and temperature in hundredths, the string voltage
// and current in tenths.
struct Expected {
  float cells[kCells];
  float group_voltage;
  float group_current;
  float temperature;
};

std::uint16_t Reading(const sim::Bytes& frame, int index) {
  return static_cast<std::uint16_t>(frame.at(2 + 2 * index) << 8 | frame.at(3 + 2 * index));
}

Expected ExpectedOf(const SoakPlan& plan, int bus, std::uint8_t address) {
  auto reply = [&](sim::Command command) {
    return CleanReply(plan, bus, address, static_cast<std::uint8_t>(command));
  };
  Expected e{};
  const sim::Bytes cells = reply(sim::Command::kCellVoltages);
  for (int cell = 0; cell < kCells; ++cell)
    e.cells[cell] = static_cast<float>(Reading(cells, cell)) / 100.0f;
  e.group_voltage = static_cast<float>(Reading(reply(sim::Command::kGroupVoltage), 0)) / 10.0f;
  e.group_current = static_cast<float>(Reading(reply(sim::Command::kCurrent), 0)) / 10.0f;
  e.temperature = static_cast<float>(Reading(reply(sim::Command::kTemperature), 0)) / 100.0f;
  return e;
}

int ValuesOff(const runner::BatteryRecord& r, const Expected& e) {
  int off = 0;
  for (int cell = 0; cell < kCells; ++cell)
    off += r.cells[static_cast<std::size_t>(cell)] != e.cells[cell];
  off += r.group_voltage != e.group_voltage;
  off += r.group_current != e.group_current;
  off += r.temperature != e.temperature;
  return off;
}

class Soak {
 public:
  explicit Soak(const SoakOptions& options)
      : options_(options),
        ledger_([plan = options.plan](std::size_t bus, std::uint8_t address, std::uint8_t command) {
          return CleanReply(plan, static_cast<int>(bus), address, command);
        }),
        clock_(boost::posix_time::ptime(boost::gregorian::date(2026, 12, 7),
                                        boost::posix_time::hours(0))) {}

  SoakResult Run() {
    const Steady::time_point started = Steady::now();
    std::remove(options_.history_db.c_str());
    StartMonitors();
    runner::PollerOptions host_options;
    host_options.clock = &clock_;
    // The clock's minute steps make data go stale and fresh again all the
    // time; the events worth showing are the others (ports, devices).
    host_options.event_sink = [this](const std::string& line) {
      if (line.find("stale") != std::string::npos || line.find("fresh data") != std::string::npos)
        return;
      if (result_.host_events.size() < kEventsKept) result_.host_events.push_back(line);
    };
    runner::Poller host(
        runner::ParseSite(SiteOf(options_.plan, paths_, options_.plugin, options_.history_db),
                          "soak", "."),
        host_options);
    host.Start();
    Loop(host);
    host.Stop();
    for (auto& server : servers_) server->Stop();
    result_.seconds = std::chrono::duration<double>(Steady::now() - started).count();
    result_.replies = ledger_.replies();
    result_.collisions = ledger_.Collisions();
    result_.injected = ledger_.InjectedFaults();
    ReadHistory();
    return result_;
  }

 private:
  void StartMonitors() {
    for (int bus = 0; bus < options_.plan.buses; ++bus) {
      servers_.push_back(sim::PortServer::CreatePty(sim::Bus(BusOf(options_.plan, bus))));
      servers_.back()->SetListener([this, bus](const sim::Exchange& exchange) {
        ledger_.Record(static_cast<std::size_t>(bus), exchange);
      });
      servers_.back()->Start();
      paths_.push_back(servers_.back()->Path());
    }
  }

  void Loop(runner::Poller& host) {
    const std::size_t devices = host.devices().size();
    const auto target = static_cast<unsigned>((options_.device_rounds + devices - 1) / devices);
    result_.devices.resize(devices);
    unsigned reported = 0;
    while (host.rounds_reported() < target && !host.StopRequested()) {
      clock_.Advance(kMinuteSeconds);
      host.RunOnce(kLoopWait);
      TakeCounters(host);
      if (options_.progress && host.rounds_reported() >= reported + target / 10) {
        reported = host.rounds_reported();
        options_.progress("host round " + std::to_string(reported) + " of " +
                          std::to_string(target));
      }
    }
    result_.host_rounds = host.rounds_reported();
    for (DeviceFigures& d : result_.devices) d.attempted = result_.host_rounds;
  }

  // New rejections and timeouts, each blamed on the last reply its monitor
  // sent: a device ends an exchange on the reply in front of it.
  void TakeCounters(const runner::Poller& host) {
    const auto& slots = host.devices();
    for (std::size_t i = 0; i < slots.size(); ++i) {
      const runner::DeviceSlot& slot = *slots[i];
      const runner::LinkCounters& now = slot.link.counters();
      DeviceFigures& d = result_.devices[i];
      const std::size_t bus = slot.settings.port;
      const std::uint8_t address = slot.settings.WireAddress();
      for (; d.rejected < now.rejected; ++d.rejected)
        ++result_.rejected_by_reason[ledger_.Blame(bus, address)];
      for (; d.timeouts < now.timeouts; ++d.timeouts) {
        ++result_.timeouts_by_reason[ledger_.Blame(bus, address)];
        ledger_.MarkTimedOut(bus, address);
      }
      d.name = slot.settings.name;
      d.data_id = slot.settings.data_id;
      d.completed = now.rounds;
      d.resends = now.resends;
    }
  }

  void ReadHistory() {
    auto history = runner::HistoryStore::Open(options_.history_db);
    for (std::size_t i = 0; i < result_.devices.size(); ++i) {
      DeviceFigures& d = result_.devices[i];
      const int index = static_cast<int>(i);
      const int bus = index / options_.plan.monitors_per_bus;
      const auto address = static_cast<std::uint8_t>(AddressOf(options_.plan, index) + 0x80);
      const Expected expected = ExpectedOf(options_.plan, bus, address);
      d.history_rows = history->ForEachRow(d.data_id, {}, [&](const runner::HistoryRow& row) {
        const auto record = runner::DecodeRecord(row.raw);
        const int off = record ? ValuesOff(*record, expected) : kCells + 3;
        d.values_off += static_cast<std::uint64_t>(off);
        d.rows_off += off > 0;
      });
    }
  }

  const SoakOptions& options_;
  ExchangeLedger ledger_;
  runner::ManualHostClock clock_;
  std::vector<std::unique_ptr<sim::PortServer>> servers_;
  std::vector<std::string> paths_;
  SoakResult result_;
};

}  // namespace

std::uint64_t SoakResult::Sum(std::uint64_t DeviceFigures::*field) const {
  std::uint64_t sum = 0;
  for (const DeviceFigures& d : devices) sum += d.*field;
  return sum;
}

std::vector<std::string> SoakResult::Failures() const {
  std::vector<std::string> failures;
  for (const DeviceFigures& d : devices) {
    if (d.completed == 0) failures.push_back(d.name + " completed no round");
    if (d.history_rows != d.completed)
      failures.push_back(d.name + ": " + std::to_string(d.history_rows) + " history rows for " +
                         std::to_string(d.completed) + " completed rounds");
  }
  if (Sum(&DeviceFigures::rows_off) > collisions.passing)
    failures.push_back(std::to_string(Sum(&DeviceFigures::rows_off)) +
                       " stored rounds hold values the monitors never sent, but only " +
                       std::to_string(collisions.passing) +
                       " corrupted replies passed their checksum");
  return failures;
}

SoakResult RunSoak(const SoakOptions& options) { return Soak(options).Run(); }

}  // namespace soak
