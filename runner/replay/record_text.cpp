#include "runner/replay/record_text.h"

#include <cstdio>
#include <sstream>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace runner::replay {

std::string TimeText(const boost::posix_time::ptime& t) {
  if (t.is_special()) return "-";
  const auto d = t.date();
  const auto tod = t.time_of_day();
  char buf[64];  // room for any int the compiler can imagine
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(d.year()),
                static_cast<int>(d.month()), static_cast<int>(d.day()),
                static_cast<int>(tod.hours()), static_cast<int>(tod.minutes()),
                static_cast<int>(tod.seconds()));
  return buf;
}

std::string RecordText(const runner::BatteryRecord& r) {
  std::ostringstream out;
  out << "id=" << r.data_id << " t=" << TimeText(r.Time()) << " cells=[";
  for (std::size_t k = 0; k < runner::kRecordCellSlots; ++k) out << (k ? " " : "") << r.cells[k];
  out << "] gv=" << r.group_voltage << " gc=" << r.group_current
      << " status=" << static_cast<unsigned>(r.status) << " temp=" << r.temperature;
  return out.str();
}

}  // namespace runner::replay
