#pragma once
// What the simulated monitors put on the line during a soak, kept so that
// every reply a device did not take can be traced to the fault that hit it,
// and every value a device accepted can be checked against what was sent.
//
// The simulator's serving thread records each exchange (Record); the soak's
// own thread asks about them (Blame, Collisions). All calls are thread-safe.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/exchange.h"

namespace soak {

// Chance that one uniformly changed byte of the covered bytes leaves an
// 8-bit sum modulo 254 unchanged, when the sum itself is uniform: of the 256
// sums only 0/254 and 1/255 share a remainder, each pair reachable by one
// change out of 255.
constexpr double kUniformCollisionRate = 4.0 / (256.0 * 255.0);

// Collision figures over the corrupted replies.
struct CollisionCount {
  std::uint64_t corrupted = 0;          // replies with a byte changed
  std::uint64_t corrupted_payload = 0;  // ... the changed byte a reading's
  std::uint64_t passing = 0;            // corrupted frames whose checksum still holds
  double expected_uniform = 0.0;        // corrupted_payload x kUniformCollisionRate
  double expected_exact = 0.0;          // from each frame's own sum: 1/255 or 0
};

class ExchangeLedger {
 public:
  // The reply the monitor at `address` on `bus` sends to `command` when
  // nothing goes wrong.
  using CleanReply =
      std::function<sim::Bytes(std::size_t bus, std::uint8_t address, std::uint8_t command)>;

  explicit ExchangeLedger(CleanReply clean) : clean_(std::move(clean)) {}

  // Called by the simulator for every request heard on `bus`.
  void Record(std::size_t bus, const sim::Exchange& exchange);

  // Why the last reply to `address` on `bus` was not taken: the faults
  // that spoil a reply on their own (corrupt, wrong_address, drop, silence,
  // delay) when it has any; else "late bytes of an earlier reply" when a
  // reply shortly before it on the bus came late (delayed, or timed out);
  // else its harmless faults (noise, split, trailing) or "clean".
  std::string Blame(std::size_t bus, std::uint8_t address) const;
  // Marks the last reply to `address` on `bus` as one the host gave up on.
  void MarkTimedOut(std::size_t bus, std::uint8_t address);

  CollisionCount Collisions() const;
  std::uint64_t replies() const;
  std::map<std::string, std::uint64_t> InjectedFaults() const;

 private:
  struct Reply {
    std::uint8_t address = 0;
    std::vector<sim::Fault> faults;
    bool timed_out = false;
  };

  void CountCollision(std::size_t bus, const sim::Exchange& exchange);

  CleanReply clean_;
  mutable std::mutex mutex_;
  std::map<std::size_t, std::vector<Reply>> recent_;  // per bus, the last few replies
  std::map<std::string, std::uint64_t> injected_;
  CollisionCount collisions_;
  std::uint64_t replies_ = 0;
};

// Faults joined with "+" in the order applied, "clean" for none.
std::string FaultText(const std::vector<sim::Fault>& faults);

}  // namespace soak
