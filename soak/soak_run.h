#pragma once
// One soak: the reference host runs halvex_30.so against simulated monitors
// served on pseudo-terminals, every reply at risk of every fault, until the
// devices have been ticked for the rounds asked. Afterwards the host's
// history database is read back and every stored value compared with what
// the monitors send.
//
// The host clock moves one minute between turns of the host's loop, so with
// a one-minute save interval every completed round is due a history row:
// rows and completed rounds must then match one for one.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "soak/exchange_ledger.h"
#include "soak/soak_plan.h"

namespace soak {

struct SoakOptions {
  SoakPlan plan;
  std::uint64_t device_rounds = 10000;               // device poll rounds to attempt at least
  std::string plugin;                                // halvex_30.so
  std::string history_db;                            // replaced if it exists
  std::function<void(const std::string&)> progress;  // one line now and then
};

struct DeviceFigures {
  std::string name;
  unsigned data_id = 0;
  std::uint64_t attempted = 0;  // poll rounds: ticks the host gave it
  std::uint64_t completed = 0;  // rounds published
  std::uint64_t resends = 0;
  std::uint64_t rejected = 0;
  std::uint64_t timeouts = 0;
  std::uint64_t history_rows = 0;
  std::uint64_t rows_off = 0;    // rows holding a value the monitor never sent
  std::uint64_t values_off = 0;  // such values
};

struct SoakResult {
  unsigned host_rounds = 0;
  double seconds = 0.0;
  std::vector<DeviceFigures> devices;
  std::map<std::string, std::uint64_t> rejected_by_reason;
  std::map<std::string, std::uint64_t> timeouts_by_reason;
  std::map<std::string, std::uint64_t> injected;
  std::uint64_t replies = 0;
  CollisionCount collisions;
  std::vector<std::string> host_events;  // ports lost and found, devices skipped

  std::uint64_t Sum(std::uint64_t DeviceFigures::*field) const;
  // The verdict: no row lost or extra, no accepted value that no checksum
  // collision explains, every device completed rounds.
  std::vector<std::string> Failures() const;
};

// Runs the soak. Throws what the host or the simulator throw when they
// cannot start (no plug-in, no pseudo-terminal, a bad site).
SoakResult RunSoak(const SoakOptions& options);

}  // namespace soak
