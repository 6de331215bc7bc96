#pragma once
// Shapes one monitor's clean reply frames into what actually reaches the
// line under a FaultPlan.

#include <cstdint>
#include <vector>

#include "sim/chunk.h"
#include "sim/clock.h"
#include "sim/faults.h"
#include "sim/wire.h"

namespace sim {

// The fate of one reply.
struct Delivery {
  std::vector<Chunk> chunks;  // empty when nothing is sent
  std::vector<Fault> faults;  // injected into this reply, in the order applied
};

class FaultInjector {
 public:
  // Throws ConfigError when the plan is out of range.
  FaultInjector(FaultPlan plan, uint64_t seed);

  // True while a silence this injector started holds.
  bool SilentAt(Micros now) const { return now < silent_until_; }

  // Decides the faults of the reply `frame`, sent at `now`, and cuts it into
  // chunks. A silence or a drop sends nothing; the other faults combine.
  Delivery Deliver(Bytes frame, Micros now);

  const FaultPlan& plan() const { return plan_; }

 private:
  bool Fires(Fault fault);
  Bytes RandomBytes(int max_count);
  void Corrupt(Bytes& frame);
  void MoveAddress(Bytes& frame);
  std::vector<Chunk> Split(const Bytes& stream);

  FaultPlan plan_;
  std::array<int, kFaultKinds> counts_left_{};
  uint64_t rng_state_;
  Micros silent_until_{0};
};

}  // namespace sim
