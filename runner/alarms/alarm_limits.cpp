#include "runner/alarms/alarm_limits.h"

#include <fnmatch.h>

namespace runner {

bool IsPattern(const std::string& name) { return name.find_first_of("*?[") != std::string::npos; }

const Limit* LimitTable::Find(const std::string& value_name) const {
  for (const Limit& limit : limits_)
    if (limit.name == value_name) return &limit;
  for (const Limit& limit : limits_)
    if (IsPattern(limit.name) && fnmatch(limit.name.c_str(), value_name.c_str(), 0) == 0)
      return &limit;
  return nullptr;
}

}  // namespace runner
