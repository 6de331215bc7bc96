#include "runner/plugin_access/ttime_decode.h"

#include <cstdint>
#include <stdexcept>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace {

constexpr std::uint32_t kDateYear = 10000;
constexpr std::uint32_t kDateMonth = 100;

}  // namespace

boost::posix_time::ptime TTimeToPtime(const TTime& stamp) {
  std::uint32_t ymd = 0;
  for (int i = 3; i >= 0; --i) ymd = (ymd << 8) | stamp.bytes[i];
  const unsigned year = ymd / kDateYear;
  const unsigned month = ymd / kDateMonth % kDateMonth;
  const unsigned day = ymd % kDateMonth;
  const unsigned h = stamp.bytes[4], m = stamp.bytes[5], s = stamp.bytes[6];
  if (year < 1400 || year > 9999 || h > 23 || m > 59 || s > 59) return {};
  try {
    return {boost::gregorian::date(year, month, day), boost::posix_time::time_duration(h, m, s)};
  } catch (const std::out_of_range&) {  // bad month or day
    return {};
  }
}
