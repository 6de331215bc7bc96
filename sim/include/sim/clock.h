#pragma once
// The simulator's sense of time: drift, scripted events and silences all
// read one injectable clock, so tests and an in-process host can move time
// without sleeping.

#include <chrono>
#include <mutex>

namespace sim {

using Micros = std::chrono::microseconds;

class Clock {
 public:
  virtual ~Clock() = default;
  // Time since the start of the run. Never goes backwards.
  virtual Micros Now() const = 0;
};

// Real time, counted from construction.
class SteadyClock : public Clock {
 public:
  SteadyClock() : start_(std::chrono::steady_clock::now()) {}
  Micros Now() const override;

 private:
  std::chrono::steady_clock::time_point start_;
};

// Time that moves only when told to. Safe to read from a server thread
// while a test advances it.
class ManualClock : public Clock {
 public:
  explicit ManualClock(Micros start = Micros{0}) : now_(start) {}
  Micros Now() const override;
  void Advance(Micros step);
  void Set(Micros now);

 private:
  mutable std::mutex mutex_;
  Micros now_;
};

// Seconds as a double, the unit of profiles and events.
inline double ToSeconds(Micros t) { return std::chrono::duration<double>(t).count(); }
inline Micros FromSeconds(double s) {
  return std::chrono::duration_cast<Micros>(std::chrono::duration<double>(s));
}

}  // namespace sim
