#include "runner/alarms/alarm_book.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace runner {
namespace {

// Feeds a run of values and renders every state change as "+low", "-high", ...
std::vector<std::string> Changes(AlarmBook& book, const std::vector<float>& values,
                                 const std::string& name = "battery_3_value") {
  std::vector<std::string> out;
  for (float v : values)
    for (const AlarmChange& c : book.Check(name, "第4节电池", v, 4))
      out.push_back(std::string(c.raised ? "+" : "-") + AlarmKindName(c.kind));
  return out;
}

Limit CellLimit(float hysteresis) {
  Limit limit;
  limit.name = "battery_*_value";
  limit.low = 12.0f;
  limit.high = 14.4f;
  limit.hysteresis = hysteresis;
  return limit;
}

TEST(AlarmBookTest, RaisesAndClearsWithHysteresis) {
  struct Case {
    const char* name;
    float hysteresis;
    std::vector<float> values;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"inside the limits nothing happens", 0.1f, {13.0f, 12.0f, 14.4f}, {}},
      {"below low raises once, however long it stays", 0.1f, {11.9f, 11.5f, 11.0f}, {"+low"}},
      {"back above low but inside the band stays raised", 0.1f, {11.9f, 12.05f, 12.09f}, {"+low"}},
      {"back at low plus hysteresis clears", 0.1f, {11.9f, 12.1f}, {"+low", "-low"}},
      {"hovering at the limit does not chatter",
       0.1f,
       {11.99f, 12.01f, 11.99f, 12.01f, 11.99f},
       {"+low"}},
      {"without hysteresis it clears at the limit itself", 0.0f, {11.99f, 12.0f}, {"+low", "-low"}},
      {"high side mirrors the low side", 0.2f, {14.5f, 14.3f, 14.2f}, {"+high", "-high"}},
      {"a jump across clears one and raises the other",
       0.1f,
       {11.0f, 15.0f},
       {"+low", "-low", "+high"}},
      {"raised again after clearing", 0.1f, {11.0f, 13.0f, 11.0f}, {"+low", "-low", "+low"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AlarmBook book(LimitTable({CellLimit(c.hysteresis)}));
    EXPECT_EQ(Changes(book, c.values), c.expected);
  }
}

TEST(AlarmBookTest, ChangeCarriesTheDevicesTextPointAndCrossedLimit) {
  AlarmBook book(LimitTable({CellLimit(0.1f)}));
  const std::vector<AlarmChange> raised = book.Check("battery_17_value", "第48节电池", 11.5f, 18);
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0].text, "第48节电池");
  EXPECT_EQ(raised[0].point, 18);
  EXPECT_FLOAT_EQ(raised[0].value, 11.5f);
  EXPECT_FLOAT_EQ(raised[0].limit, 12.0f);
  ASSERT_EQ(book.Active().size(), 1u);
  EXPECT_EQ(book.Active()[0].name, "battery_17_value");
}

TEST(AlarmBookTest, EachValueHasItsOwnState) {
  AlarmBook book(LimitTable({CellLimit(0.1f)}));
  Changes(book, {11.0f}, "battery_1_value");
  EXPECT_EQ(Changes(book, {13.0f}, "battery_2_value"), std::vector<std::string>{});
  EXPECT_EQ(book.Active().size(), 1u);
  EXPECT_EQ(Changes(book, {13.0f}, "battery_1_value"), std::vector<std::string>{"-low"});
  EXPECT_TRUE(book.Active().empty());
}

TEST(AlarmBookTest, ValuesWithoutALimitOrNotANumberChangeNothing) {
  AlarmBook book(LimitTable({CellLimit(0.1f)}));
  EXPECT_TRUE(book.Check("group_current", "电流", -500.0f, 1).empty());
  EXPECT_TRUE(book.Check("battery_0_value", "第1节电池", NAN, 1).empty());
}

TEST(LimitTableTest, ExactNameBeatsWildcardAndFirstWildcardWins) {
  Limit exact{"battery_5_value", 10.0f, {}, 0.0f};
  Limit cells{"battery_*_value", 12.0f, {}, 0.0f};
  Limit any{"*", 1.0f, {}, 0.0f};
  const LimitTable table({cells, any, exact});
  struct Case {
    const char* name;
    const char* value_name;
    const char* expected;  // nullptr: no limit
  };
  const Case cases[] = {
      {"exact entry even when listed last", "battery_5_value", "battery_5_value"},
      {"cell wildcard before the catch-all", "battery_29_value", "battery_*_value"},
      {"catch-all for other names", "temperature", "*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Limit* found = table.Find(c.value_name);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, c.expected);
  }
  EXPECT_EQ(LimitTable({cells}).Find("group_voltage"), nullptr);
  EXPECT_EQ(LimitTable({Limit{"battery_?_value", 1.0f, {}, 0.0f}}).Find("battery_12_value"),
            nullptr);
}

}  // namespace
}  // namespace runner
