#pragma once
// Faults a simulated monitor can inject into its replies, to prove that a
// device survives a bad line. Each fault fires for the first `count`
// replies, then for each further reply with probability `rate`; all chance
// comes from the bus seed, so a seeded run repeats byte for byte.
//
//   drop           the reply is not sent
//   corrupt        one byte of the reply is changed
//   wrong_address  the reply carries another address (checksum still right)
//   noise          1..noise_max_bytes random bytes precede the reply (never 0xED)
//   split          the reply goes out in 2..split_max_chunks pieces with gaps
//   trailing       1..trailing_max_bytes random bytes follow the reply
//   delay          the reply starts delay_ms late
//   silence        the monitor answers nothing for silence_s seconds

#include <array>
#include <cstddef>
#include <string>

namespace sim {

enum class Fault { kDrop, kCorrupt, kWrongAddress, kNoise, kSplit, kTrailing, kDelay, kSilence };
inline constexpr size_t kFaultKinds = 8;

const char* FaultName(Fault fault);  // the lower snake case key, e.g. "wrong_address"
inline constexpr size_t FaultIndex(Fault fault) { return static_cast<size_t>(fault); }

struct FaultRule {
  double rate = 0.0;  // 0..1, chance per reply
  int count = 0;      // replies that take the fault for sure, before the rate applies
};

struct FaultPlan {
  std::array<FaultRule, kFaultKinds> rules{};
  int noise_max_bytes = 8;
  int split_max_chunks = 4;
  double split_gap_ms = 20.0;  // each gap between pieces lies in 0..this
  int trailing_max_bytes = 4;
  double delay_ms = 300.0;
  double silence_s = 5.0;

  FaultRule& operator[](Fault fault) { return rules[FaultIndex(fault)]; }
  const FaultRule& operator[](Fault fault) const { return rules[FaultIndex(fault)]; }
};

// Throws ConfigError naming the first setting out of range.
void Validate(const FaultPlan& plan, const std::string& where = "faults");

}  // namespace sim
