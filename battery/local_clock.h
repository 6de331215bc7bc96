#pragma once
// The one clock a device reads: the controller's local time, to the second.

#include <boost/date_time/posix_time/ptime.hpp>

namespace halvex {

// Current local date-time (second_clock::local_time, that is the C
// library's time() and localtime_r()). Every time stamp, age and timeout of
// a device comes from here.
boost::posix_time::ptime LocalNow();

}  // namespace halvex
