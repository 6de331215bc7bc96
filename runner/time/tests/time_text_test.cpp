#include "runner/time/time_text.h"

#include <string>

#include <gtest/gtest.h>

namespace runner {
namespace {

TEST(TimeTextTest, ParseTimeTakesTheHostsFormsWithEveryDigitAndNothingElse) {
  struct Case {
    const char* text;
    const char* parsed;  // as FormatTime writes it; null: refused
  };
  const Case cases[] = {
      {"2026-12-07 14:03:09", "2026-12-07 14:03:09"},
      {"2026-12-07T14:03:09", "2026-12-07 14:03:09"},
      {"2026-12-07", "2026-12-07 00:00:00"},
      {"2024-02-29 23:59:59", "2024-02-29 23:59:59"},
      {"9999-12-31 23:59:59", "9999-12-31 23:59:59"},
      {"2026-12-07 14:03", nullptr},    // seconds left out
      {"2026-12-7 14:03:09", nullptr},  // a digit left out
      {"2026-12-07 4:03:09", nullptr},
      {"2026-12-07  14:03:09", nullptr},  // too long
      {" 2026-12-07", nullptr},
      {"2026-12-07T", nullptr},
      {"", nullptr},
      {"2026/12/07", nullptr},
      {"2026-12-07t14:03:09", nullptr},  // only a capital T joins date and time
      {"2026-12-07_14:03:09", nullptr},
      {"2026-12-07 14.03.09", nullptr},
      {"2026-12-07 14:03:09Z", nullptr},  // no zone: the time is local
      {"+026-12-07", nullptr},            // a sign is no digit
      {"2026-12-07 -1:03:09", nullptr},
      {"2026-13-01", nullptr},
      {"2026-00-10", nullptr},
      {"2026-04-31", nullptr},
      {"2023-02-29", nullptr},
      {"2026-01-00", nullptr},
      {"2026-12-07 24:00:00", nullptr},
      {"2026-12-07 23:60:00", nullptr},
      {"2026-12-07 23:59:60", nullptr},  // no leap second
      {"0000-01-01", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    const auto parsed = ParseTime(c.text);
    ASSERT_EQ(parsed.has_value(), c.parsed != nullptr);
    if (parsed) {
      EXPECT_EQ(FormatTime(*parsed), c.parsed);
    }
  }
}

TEST(TimeTextTest, AnInstantIsWrittenInLocalTimeWithItsOffset) {
  struct Case {
    std::int64_t utc;
    int offset_s;
    const char* text;
  };
  const Case cases[] = {
      {1796652189, 0, "2026-12-07T14:03:09+00:00"},
      {1796652189, 3600, "2026-12-07T15:03:09+01:00"},
      {1796652189, -5 * 3600, "2026-12-07T09:03:09-05:00"},
      {1796652189, 5 * 3600 + 1800, "2026-12-07T19:33:09+05:30"},  // a half-hour zone
      {1796652189, -(3 * 3600 + 1800), "2026-12-07T10:33:09-03:30"},
      {1796601600, -3600, "2026-12-06T23:00:00-01:00"},  // the day before, locally
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatInstant(c.utc, c.offset_s), c.text);
  }
}

}  // namespace
}  // namespace runner
