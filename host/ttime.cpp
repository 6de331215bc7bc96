#include "host/ttime.h"

#include <cstdint>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace {

constexpr std::uint32_t kDateYear = 10000;
constexpr std::uint32_t kDateMonth = 100;

}  // namespace

TTime get_ttime(boost::posix_time::ptime t) {
  TTime stamp{};
  if (t.is_special()) return stamp;
  const auto date = t.date();
  const auto time = t.time_of_day();
  const std::uint32_t ymd = static_cast<std::uint32_t>(date.year()) * kDateYear +
                            static_cast<std::uint32_t>(date.month()) * kDateMonth +
                            static_cast<std::uint32_t>(date.day());
  for (int i = 0; i < 4; ++i) stamp.bytes[i] = static_cast<unsigned char>(ymd >> (8 * i));
  stamp.bytes[4] = static_cast<unsigned char>(time.hours());
  stamp.bytes[5] = static_cast<unsigned char>(time.minutes());
  stamp.bytes[6] = static_cast<unsigned char>(time.seconds());
  return stamp;
}

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
