#include "runner/time/host_clock.h"

#include <ctime>

namespace runner {
namespace {

boost::posix_time::ptime FromTm(const std::tm& tm) {
  return boost::posix_time::ptime(
      boost::gregorian::date(static_cast<unsigned short>(tm.tm_year + 1900),
                             static_cast<unsigned short>(tm.tm_mon + 1),
                             static_cast<unsigned short>(tm.tm_mday)),
      boost::posix_time::time_duration(tm.tm_hour, tm.tm_min, tm.tm_sec));
}

std::tm ToTm(boost::posix_time::ptime local, int isdst) {
  std::tm tm{};
  const auto d = local.date();
  const auto t = local.time_of_day();
  tm.tm_year = static_cast<int>(d.year()) - 1900;
  tm.tm_mon = static_cast<int>(d.month()) - 1;
  tm.tm_mday = static_cast<int>(d.day());
  tm.tm_hour = static_cast<int>(t.hours());
  tm.tm_min = static_cast<int>(t.minutes());
  tm.tm_sec = static_cast<int>(t.seconds());
  tm.tm_isdst = isdst;
  return tm;
}

}  // namespace

HostInstant InstantOfLocal(boost::posix_time::ptime local, bool latest) {
  HostInstant out;
  out.local = local;
  if (local.is_special()) return out;
  // Ask for the time both with and without daylight saving; each reading
  // that maps back to the same wall time is a real occurrence of it.
  bool found = false;
  for (int isdst : {0, 1}) {
    std::tm tm = ToTm(local, isdst);
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) continue;
    std::tm back{};
    if (localtime_r(&t, &back) == nullptr || FromTm(back) != local) continue;
    const auto utc = static_cast<std::int64_t>(t);
    if (!found || (latest ? utc > out.utc : utc < out.utc)) {
      out.utc = utc;
      out.utc_offset_s = static_cast<int>(back.tm_gmtoff);
    }
    found = true;
  }
  if (!found) {  // skipped by a change forward: the offset before it
    std::tm tm = ToTm(local, -1);
    const std::time_t t = std::mktime(&tm);
    std::tm before{};
    const std::time_t earlier = t - 86400;
    localtime_r(&earlier, &before);
    out.utc_offset_s = static_cast<int>(before.tm_gmtoff);
    out.utc =
        (local - boost::posix_time::ptime(boost::gregorian::date(1970, 1, 1))).total_seconds() -
        out.utc_offset_s;
  }
  return out;
}

boost::posix_time::ptime WallClock::LocalTime() const { return Now().local; }

HostInstant WallClock::Now() const {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  HostInstant out;
  out.local = FromTm(tm);
  out.utc = static_cast<std::int64_t>(t);
  out.utc_offset_s = static_cast<int>(tm.tm_gmtoff);
  return out;
}

ManualHostClock::ManualHostClock(boost::posix_time::ptime start) : device_clock_(start) {}

}  // namespace runner
