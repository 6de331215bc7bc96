#pragma once
// The host's compact 7-byte time stamp, carried at the end of every data
// record.
//
//   offset  0..3   date as the decimal number yyyymmdd, 32-bit little-endian
//           4      hour   (0..23)
//           5      minute (0..59)
//           6      second (0..59)
//
// 2026-12-07 14:03:09 is 57 29 35 01 0E 03 09 (20261207 = 0x01352957).
// A time that is not a date (not-a-date-time, infinities) is all zero bytes.
// The stamp has no alignment of its own: copy it bytewise.

#include <boost/date_time/posix_time/ptime.hpp>

#include "host/visibility.h"

struct TTime {
  unsigned char bytes[7];
};
static_assert(sizeof(TTime) == 7, "the time stamp is 7 packed bytes");

// Local date-time to stamp. Provided by the host process.
QORV_API TTime get_ttime(boost::posix_time::ptime t);
