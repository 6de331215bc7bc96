#include "sim/clock.h"

namespace sim {

Micros SteadyClock::Now() const {
  return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - start_);
}

Micros ManualClock::Now() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

void ManualClock::Advance(Micros step) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ += step;
}

void ManualClock::Set(Micros now) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ = now;
}

}  // namespace sim
