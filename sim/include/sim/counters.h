#pragma once
// Running totals of a bus, printed when the simulator stops.

#include <array>
#include <cstdint>
#include <string>

#include "sim/exchange.h"
#include "sim/faults.h"

namespace sim {

struct Counters {
  uint64_t requests = 0;                       // good request frames heard, for any address
  uint64_t replies = 0;                        // replies put on the line, faulty ones included
  uint64_t bad_checksums = 0;                  // request frames that failed their checksum
  uint64_t other_address = 0;                  // good requests that no monitor here answers to
  uint64_t unknown_commands = 0;               // good requests with a code other than A1..A4
  uint64_t silent = 0;                         // requests left unanswered by a silent monitor
  std::array<uint64_t, kFaultKinds> faults{};  // times each fault was injected

  void Add(const Exchange& exchange);
  uint64_t fault(Fault f) const { return faults[FaultIndex(f)]; }
};

// One "name value" line a counter, faults under their own names.
std::string FormatCounters(const Counters& counters);

}  // namespace sim
