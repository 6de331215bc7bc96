#include "bench/regex_query.h"

#include <cstdlib>
#include <regex>
#include <stdexcept>

#include "battery/local_clock.h"
#include "battery/query_errors.h"

namespace halvex::bench {

float RegexQueryHalvex30::Get_Value(unsigned index, const std::string& name) const {
  if (!data_ready_) throw std::out_of_range(kDataNotReady);
  if ((LocalNow() - update_time_).total_seconds() > 60) throw std::out_of_range(kDataTimedOut);
  std::smatch match;
  if (std::regex_search(name, match, std::regex("battery_(\\d+)_value"))) {
    const int cell = std::atoi(match[1].str().c_str());
    if (cell >= 0 && cell < cell_count_) return data_.battery_value[cell];
  }
  return Battery::Get_Value(index, name);
}

}  // namespace halvex::bench
