#include "host/ttime.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "runner/plugin_access/ttime_decode.h"
#include "runner/recording/recording_controller.h"

namespace {

using boost::posix_time::time_from_string;
using runner::recording::Hex;

TTime StampOf(unsigned ymd, unsigned char h, unsigned char m, unsigned char s) {
  TTime stamp{};
  for (int i = 0; i < 4; ++i) stamp.bytes[i] = static_cast<unsigned char>(ymd >> (8 * i));
  stamp.bytes[4] = h;
  stamp.bytes[5] = m;
  stamp.bytes[6] = s;
  return stamp;
}

TEST(TTime, LayoutIsLittleEndianDateThenTimeOfDay) {
  struct Case {
    const char* time;
    const char* bytes;
  } cases[] = {
      {"2026-12-07 14:03:09", "57 29 35 01 0E 03 09"},
      {"2000-01-01 00:00:00", "65 2D 31 01 00 00 00"},
      {"2099-12-31 23:59:59", "FF 4C 40 01 17 3B 3B"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.time);
    const TTime stamp = get_ttime(time_from_string(c.time));
    EXPECT_EQ(Hex(stamp.bytes, 7), c.bytes);
    EXPECT_EQ(TTimeToPtime(stamp), time_from_string(c.time));
  }
}

TEST(TTime, SpecialTimesAndInvalidStampsMapToNothing) {
  EXPECT_EQ(Hex(get_ttime(boost::posix_time::ptime()).bytes, 7), "00 00 00 00 00 00 00");
  struct Case {
    const char* name;
    TTime stamp;
  } cases[] = {
      {"all zero", StampOf(0, 0, 0, 0)},          {"hour 24", StampOf(20261207, 24, 0, 0)},
      {"minute 60", StampOf(20261207, 0, 60, 0)}, {"30 February", StampOf(20260230, 0, 0, 0)},
      {"month 13", StampOf(20261301, 0, 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(TTimeToPtime(c.stamp).is_not_a_date_time());
  }
}

}  // namespace
