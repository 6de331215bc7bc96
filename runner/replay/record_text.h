#pragma once
// A battery string's data record (runner/round/battery_record.h), as the device
// publishes it and hands it to history, as one transcript line.

#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

#include "runner/round/battery_record.h"

namespace runner::replay {

// "2026-12-07 12:00:00"; "-" for a time that is not a date.
std::string TimeText(const boost::posix_time::ptime& t);

// "id=1 t=2026-12-07 12:00:00 cells=[13.3 ... 0 0] gv=399 gc=-5 status=0 temp=25"
// All 32 cell slots are shown, so a device that writes beyond its string shows.
std::string RecordText(const runner::BatteryRecord& record);

}  // namespace runner::replay
