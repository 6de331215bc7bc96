#include "runner/lines/bus_turns.h"

#include <algorithm>

namespace runner {

BusTurns::BusTurns(std::size_t devices, std::chrono::milliseconds reply_timeout)
    : due_(devices, false), reply_timeout_(reply_timeout) {}

void BusTurns::MarkAllDue() { std::fill(due_.begin(), due_.end(), true); }

bool BusTurns::AnyDue() const { return std::find(due_.begin(), due_.end(), true) != due_.end(); }

std::optional<std::size_t> BusTurns::NextTick() {
  if (holder_ || due_.empty()) return std::nullopt;
  for (std::size_t k = 0; k < due_.size(); ++k) {
    const std::size_t i = (next_ + k) % due_.size();
    if (!due_[i]) continue;
    due_[i] = false;
    next_ = (i + 1) % due_.size();
    return i;
  }
  return std::nullopt;
}

void BusTurns::Sent(std::size_t device, TimePoint now) {
  holder_ = device;
  last_heard_ = now;
}

void BusTurns::Heard(TimePoint now) {
  if (holder_) last_heard_ = now;
}

std::optional<std::size_t> BusTurns::Expire(TimePoint now) {
  if (!holder_ || now < last_heard_ + reply_timeout_) return std::nullopt;
  const std::size_t device = *holder_;
  holder_.reset();
  return device;
}

void BusTurns::Reset() {
  holder_.reset();
  std::fill(due_.begin(), due_.end(), false);
}

std::optional<BusTurns::TimePoint> BusTurns::deadline() const {
  if (!holder_) return std::nullopt;
  return last_heard_ + reply_timeout_;
}

}  // namespace runner
