#pragma once
// Which of the records a device hands over every round become history
// rows. A device's first round after the host starts is kept, then one
// round per save interval, plus every round in which one of its alarms was
// raised or cleared (so the row shows the values that moved the alarm).
// The interval runs on the host clock; if that clock is set back, the next
// round is kept and the interval starts again from it.

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

 private:
  std::map<unsigned, boost::posix_time::ptime> last_kept_;
};

}  // namespace runner
