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
      {"2026-12-07 14:03", nullptr},      // seconds left out
      {"2026-12-7 14:03:09", nullptr},    // a digit left out
      {"2026-12-07  14:03:09", nullptr},  // too long
      {" 2026-12-07", nullptr},
      {"2026-12-07T", nullptr},
      {"", nullptr},
      {"2026/12/07", nullptr},
      {"2026-12-07t14:03:09", nullptr},  // only a capital T joins date and time
      {"2026-12-07 14.03.09", nullptr},
      {"2026-12-07 14:03:09Z", nullptr},  // no zone: the time is local
      {"+026-12-07", nullptr},            // a sign is no digit
      {"2026-12-07 -1:03:09", nullptr},
      {"2026-13-01", nullptr},
      {"2026-04-31", nullptr},
      {"2023-02-29", nullptr},
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

}  // namespace
}  // namespace runner
