#include "runner/lines/event_log.h"

#include "runner/time/time_text.h"

namespace runner {

EventLog::EventLog(const HostClock& clock, Sink sink) : clock_(clock), sink_(std::move(sink)) {}

void EventLog::Add(const std::string& text) {
  const std::string line = FormatTime(clock_.LocalTime()) + " " + text;
  recent_.push_back(line);
  if (recent_.size() > kKept) recent_.pop_front();
  fresh_.push_back(line);
  if (fresh_.size() > kKept) fresh_.erase(fresh_.begin());  // nobody takes them in view mode
  if (sink_) sink_(line);
}

std::vector<std::string> EventLog::Recent(std::size_t count) const {
  const std::size_t n = std::min(count, recent_.size());
  return std::vector<std::string>(recent_.end() - static_cast<long>(n), recent_.end());
}

std::vector<std::string> EventLog::TakeNew() {
  std::vector<std::string> out;
  out.swap(fresh_);
  return out;
}

}  // namespace runner
