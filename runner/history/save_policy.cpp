#include "runner/history/save_policy.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace runner {

std::optional<std::string> SavePolicy::Decide(unsigned data_id, boost::posix_time::ptime now,
                                              unsigned interval_minutes, bool alarm_changed) {
  auto last = last_kept_.find(data_id);
  if (last == last_kept_.end()) {
    last_kept_[data_id] = Kept{now, std::nullopt};
    return "first";
  }
  const boost::posix_time::ptime at = last->second.at;
  if (now < at || now - at >= boost::posix_time::minutes(interval_minutes)) {
    last->second = Kept{now, at};
    return "interval";
  }
  if (alarm_changed) return "alarm";
  return std::nullopt;
}

void SavePolicy::Dropped(unsigned data_id, boost::posix_time::ptime kept_at) {
  auto last = last_kept_.find(data_id);
  if (last == last_kept_.end() || last->second.at != kept_at) return;  // an alarm row
  if (last->second.before) {
    last->second = Kept{*last->second.before, std::nullopt};
  } else {
    last_kept_.erase(last);  // the first row never made it: the next one is first
  }
}

}  // namespace runner
