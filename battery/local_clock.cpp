#include "battery/local_clock.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace halvex {

boost::posix_time::ptime LocalNow() { return boost::posix_time::second_clock::local_time(); }

}  // namespace halvex
