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

#include "runner/round/link_counters.h"

namespace runner {

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
