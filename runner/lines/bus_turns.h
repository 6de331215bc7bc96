#pragma once
// Turns on one shared serial line. Several monitors may hang on one RS-485
// pair; a second request sent before the first reply is complete would
// talk over it. So the line carries one exchange at a time:
//
//   - Every poll period each device on the line gets one tick. A tick that
//     comes due waits while the line is held; ticks that wait do not stack.
//   - A device whose tick (or reply handling) sent a request holds the line.
//     It keeps it through its whole cycle, since each reply it takes sends
//     the next request at once.
//   - It lets go when process() says no further reply is awaited (the cycle
//     ended or failed), or when no reply byte has come for the reply timeout.
//     Its own next tick then re-sends the request that went unanswered.
//   - Waiting ticks run in turn, round robin, so no device starves.
//
// Pure bookkeeping: the host's loop asks and tells; nothing here does I/O.

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

namespace runner {

class BusTurns {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  BusTurns(std::size_t devices, std::chrono::milliseconds reply_timeout);

  void MarkDue(std::size_t device) { due_.at(device) = true; }
  bool Due(std::size_t device) const { return due_.at(device); }
  void MarkAllDue();
  bool AnyDue() const;

  // The device whose waiting tick may run now, round robin; clears its
  // mark. Nothing while the line is held.
  std::optional<std::size_t> NextTick();

  // `device` put a request on the line: it holds the line until released or
  // until the reply timeout passes with nothing heard.
  void Sent(std::size_t device, TimePoint now);
  // Reply bytes for the holder arrived: the timeout starts again.
  void Heard(TimePoint now);
  void Release() { holder_.reset(); }
  // Frees the line when the holder's reply time is up; returns that device.
  std::optional<std::size_t> Expire(TimePoint now);

  // The line is gone: nobody holds it and no tick waits.
  void Reset();

  std::optional<std::size_t> holder() const { return holder_; }
  std::optional<TimePoint> deadline() const;
  bool Idle() const { return !holder_ && !AnyDue(); }

 private:
  std::vector<bool> due_;
  std::chrono::milliseconds reply_timeout_;
  std::optional<std::size_t> holder_;
  TimePoint last_heard_{};
  std::size_t next_ = 0;
};

}  // namespace runner
