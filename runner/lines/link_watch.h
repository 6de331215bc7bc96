#pragma once
// What the host can tell about one device's link from its side of the
// calls, without knowing the protocol:
//
//   rounds    records published (SendSP calls)
//   re-sends  a frame identical to the device's previous one, with no reply
//             bytes handed to the device in between
//   rejected  a process() call that ends the exchange (returns 0) while the
//             device was awaiting a reply and no round completed in it
//   timeouts  turns on the bus that ended because no reply came in time
//
// and the round time: from the start of a cycle (the device's base tick) to
// its publication.

#include <chrono>
#include <cstdint>
#include <vector>

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

class LinkWatch {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  void CycleStarted(TimePoint now);
  void FrameSent(const unsigned char* data, unsigned len);
  void BeforeProcess();
  void AfterProcess(int result);
  void RoundPublished(TimePoint now);
  void TimedOut() { ++counters_.timeouts; }

  const LinkCounters& counters() const { return counters_; }

 private:
  LinkCounters counters_;
  std::vector<unsigned char> last_frame_;
  bool reply_since_frame_ = false;
  bool awaiting_ = false;
  bool round_in_call_ = false;
  bool cycle_timed_ = false;
  TimePoint cycle_start_{};
};

}  // namespace runner
