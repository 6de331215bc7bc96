#include "runner/lines/link_watch.h"

#include <algorithm>

namespace runner {

void LinkWatch::CycleStarted(TimePoint now) {
  cycle_start_ = now;
  cycle_timed_ = true;
}

void LinkWatch::FrameSent(const unsigned char* data, unsigned len) {
  const bool same = last_frame_.size() == len && std::equal(data, data + len, last_frame_.begin());
  if (same && !reply_since_frame_) ++counters_.resends;
  last_frame_.assign(data, data + len);
  reply_since_frame_ = false;
  awaiting_ = true;
}

void LinkWatch::BeforeProcess() {
  reply_since_frame_ = true;
  round_in_call_ = false;
}

void LinkWatch::AfterProcess(int result) {
  if (result != 0) return;
  if (awaiting_ && !round_in_call_) ++counters_.rejected;
  awaiting_ = false;
}

void LinkWatch::RoundPublished(TimePoint now) {
  ++counters_.rounds;
  round_in_call_ = true;
  if (!cycle_timed_) return;
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(now - cycle_start_);
  counters_.last_round = took;
  counters_.total_round += took;
  ++counters_.timed_rounds;
  counters_.best_round = counters_.timed_rounds == 1 ? took : std::min(counters_.best_round, took);
  counters_.worst_round = std::max(counters_.worst_round, took);
  cycle_timed_ = false;
}

}  // namespace runner
