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
