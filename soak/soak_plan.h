#pragma once
// The soak's line-up: simulated buses, each with a few monitors whose
// strings hold still (no drift, no noise), so that every value a device
// accepts can be compared with the one value its monitor sends; the faults
// every reply risks; and the site the reference host runs.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "sim/bus.h"

namespace soak {

struct SoakPlan {
  int buses = 2;
  int monitors_per_bus = 2;
  std::uint64_t seed = 1;
  double poll_period_s = 0.05;  // the shortest the reference host takes
  unsigned reply_timeout_ms = 20;
  sim::FaultPlan faults = DefaultFaults();

  // Every fault on, at rates that leave most rounds whole: per reply 2 %
  // drops, 2 % corrupt bytes, 1 % wrong addresses, 5 % noise, 20 % splits,
  // 2 % trailing bytes, 1 % late replies (past the reply timeout) and 0.2 %
  // silences of 0.3 s.
  static sim::FaultPlan DefaultFaults();
};

// Monitor `index` (0-based over all buses) at configured address
// `index % monitors_per_bus + 1`, its values its own. Each of its four
// replies covers a sum of 0, 1, 254 or 255, which shares its remainder
// modulo 254 with another sum: the checksum's worst case, where a corrupted
// reading passes one time in 255 (rather than 4 in 65280 for a sum of any
// value), so that a soak of minutes meets collisions and shows they are
// counted.
sim::MonitorProfile SteadyProfile(int index, int monitors_per_bus);

// A covered sum whose remainder modulo 254 another sum shares.
bool SharesRemainder(unsigned sum);

// The simulated bus `bus` of the plan.
sim::BusConfig BusOf(const SoakPlan& plan, int bus);

// The clean reply of the monitor at wire `address` on `bus`; empty for none.
sim::Bytes CleanReply(const SoakPlan& plan, int bus, std::uint8_t address, std::uint8_t command);

// The site file for the reference host: one port per bus at `paths[bus]`,
// one device per monitor, history in `history_db`, a one-minute save
// interval.
Json::Value SiteOf(const SoakPlan& plan, const std::vector<std::string>& paths,
                   const std::string& plugin, const std::string& history_db);

// Data id of device `index`, and its configured address.
unsigned DataIdOf(int index);
unsigned AddressOf(const SoakPlan& plan, int index);

}  // namespace soak
