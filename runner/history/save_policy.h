#pragma once
// Which of the records a device hands over every round become history
// rows. A device's first round after the host starts is kept, then one
// round per save interval, plus every round in which one of its alarms was
// raised or cleared (so the row shows the values that moved the alarm).
// The interval runs on the host clock; if that clock is set back, the next
// round is kept and the interval starts again from it.
//
// A round kept is handed to the history writer, which commits it or keeps
// retrying it. When the writer refuses it (its queue is full), Dropped()
// takes the decision back, so the next round is kept in its place instead
// of leaving the interval without a row.

#include <map>
#include <optional>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

namespace runner {

class SavePolicy {
 public:
  // The reason to keep this round ("first", "interval", "alarm"), or
  // nothing. Alarm rows come on top and leave the interval's rhythm alone.
  std::optional<std::string> Decide(unsigned data_id, boost::posix_time::ptime now,
                                    unsigned interval_minutes, bool alarm_changed);
  // The row decided at `kept_at` was not written.
  void Dropped(unsigned data_id, boost::posix_time::ptime kept_at);

 private:
  struct Kept {
    boost::posix_time::ptime at;                     // the interval counts from here
    std::optional<boost::posix_time::ptime> before;  // what it counted from until then
  };
  std::map<unsigned, Kept> last_kept_;
};

}  // namespace runner
