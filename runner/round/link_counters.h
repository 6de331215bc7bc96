#pragma once
// A device's link as the host counts it (runner/lines/link_watch.h keeps
// them): here so that a round's result carries them without the lines.

#include <chrono>
#include <cstdint>

namespace runner {

struct LinkCounters {
  std::uint64_t rounds = 0;
  std::uint64_t resends = 0;
  std::uint64_t rejected = 0;
  std::uint64_t timeouts = 0;
  std::chrono::microseconds last_round{0};
  std::chrono::microseconds best_round{0};
  std::chrono::microseconds worst_round{0};
  std::chrono::microseconds total_round{0};  // over the timed rounds
  std::uint64_t timed_rounds = 0;            // rounds whose cycle start was seen

  std::chrono::microseconds MeanRound() const {
    return timed_rounds ? total_round / static_cast<long>(timed_rounds)
                        : std::chrono::microseconds{0};
  }
};

}  // namespace runner
