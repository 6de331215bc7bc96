#pragma once
// The host side's reading of the 7-byte time stamp that get_ttime writes
// (layout in host/ttime.h).

#include <boost/date_time/posix_time/ptime.hpp>

#include "host/ttime.h"

// Stamp back to a date-time; not-a-date-time when the stamp is all zero or
// does not hold a valid date and time of day.
boost::posix_time::ptime TTimeToPtime(const TTime& stamp);
