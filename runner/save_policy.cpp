#include "runner/save_policy.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace runner {

std::optional<std::string> SavePolicy::Decide(unsigned data_id, boost::posix_time::ptime now,
                                              unsigned interval_minutes, bool alarm_changed) {
  auto last = last_kept_.find(data_id);
  if (last == last_kept_.end()) {
    last_kept_[data_id] = now;
    return "first";
  }
  if (now < last->second || now - last->second >= boost::posix_time::minutes(interval_minutes)) {
    last->second = now;
    return "interval";
  }
  if (alarm_changed) return "alarm";
  return std::nullopt;
}

}  // namespace runner
