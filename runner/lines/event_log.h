#pragma once
// The host's own messages: ports lost and found, devices skipped, alarms
// raised and cleared. Each is stamped with the host clock, kept for the
// live view and the per-round JSON line, and passed to a sink (the log file
// in the program, a vector in tests).

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "runner/time/host_clock.h"

namespace runner {

class EventLog {
 public:
  using Sink = std::function<void(const std::string& line)>;

  explicit EventLog(const HostClock& clock, Sink sink = {});

  // Records "YYYY-MM-DD HH:MM:SS <text>".
  void Add(const std::string& text);

  // The newest `count` lines, oldest first.
  std::vector<std::string> Recent(std::size_t count) const;
  // Lines added since the previous call.
  std::vector<std::string> TakeNew();

 private:
  static constexpr std::size_t kKept = 64;

  const HostClock& clock_;
  Sink sink_;
  std::deque<std::string> recent_;
  std::vector<std::string> fresh_;
};

}  // namespace runner
