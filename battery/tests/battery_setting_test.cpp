// Configuration: every key, the C conversions and their corner cases.
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "battery/c_text.h"
#include "battery/tests/test_battery.h"
#include "runner/plugin_access/serial_settings.h"

namespace halvex::testing {
namespace {

constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();

TEST(Setting, DefaultsWhenAppSettingIsMissingOrNotAnObject) {
  for (const char* config : {"{}", R"({"appSetting":[1,2]})", R"({"appSetting":null})",
                             R"({"appSetting":"x"})", "[1,2]", "7", "null"}) {
    SCOPED_TRACE(config);
    Json::Value host_setting;
    host_setting["address"] = 3;
    auto host = std::make_shared<RecordingController>();
    TestBattery dev;
    dev.Init(host, 1, host_setting);
    EXPECT_EQ(dev.InitSetting(ParseJson(config)), 1);
    EXPECT_EQ(dev.addr_, 0x83);
    EXPECT_EQ(dev.version_, 1);
    EXPECT_EQ(dev.battery_type_, 0);
    EXPECT_FLOAT_EQ(dev.group_a_, 1.0f);
    EXPECT_EQ(dev.save_interval_, 28800);
    EXPECT_TRUE(dev.active_batteries_.empty());
    EXPECT_EQ(plugin_access::BaudRate(dev), 19200);
  }
}

TEST(Setting, AddressOffsetIsModulo256AndAppliedOnEveryRun) {
  for (auto [configured, wire] :
       std::vector<std::pair<int, int>>{{1, 0x81}, {0x81, 0x01}, {0, 0x80}}) {
    SCOPED_TRACE(configured);
    Json::Value host_setting;
    host_setting["address"] = configured;
    TestBattery dev;
    dev.Init(std::weak_ptr<QorvController>(), 1, host_setting);
    dev.InitSetting(Json::Value());
    EXPECT_EQ(dev.addr_, wire);
    dev.InitSetting(Json::Value());
    EXPECT_EQ(dev.addr_, configured & 0xFF);
  }
}

struct KeyCase {
  const char* name;
  const char* app_setting;
  std::function<void(const TestBattery&)> check;
};

void RunKeyCases(const std::vector<KeyCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BatteryOnBench bench(std::string(R"({"appSetting":)") + c.app_setting + "}");
    c.check(bench.dev);
  }
}

TEST(Setting, ScalarKeysTextAndNumberAlike) {
  RunKeyCases({
      {"version as text", R"({"version":"2"})", [](auto& d) { EXPECT_EQ(d.version_, 2); }},
      {"version as number", R"({"version":2})", [](auto& d) { EXPECT_EQ(d.version_, 2); }},
      {"battery_type text truncated", R"({"battery_type":"6.9"})",
       [](auto& d) { EXPECT_EQ(d.battery_type_, 6); }},
      {"battery_type negative truncated toward zero", R"({"battery_type":-6.9})",
       [](auto& d) { EXPECT_EQ(d.battery_type_, -6); }},
      {"battery_type number", R"({"battery_type":12})",
       [](auto& d) { EXPECT_EQ(d.battery_type_, 12); }},
      {"battery_type in exponent form is read as a real", R"({"battery_type":"6e0"})",
       [](auto& d) { EXPECT_EQ(d.battery_type_, 6); }},
      {"version in exponent form is read as an integer", R"({"version":"2e3"})",
       [](auto& d) { EXPECT_EQ(d.version_, 2); }},
      {"current_ratio", R"({"current_ratio":"1.5"})",
       [](auto& d) { EXPECT_EQ(d.current_ratio_, 1); }},
      {"floats",
       R"({"group_a":"2.5","group_b":-1,"battery_adjust":"0.125","t0":0.5,"t31":"-0.25"})",
       [](auto& d) {
         EXPECT_FLOAT_EQ(d.group_a_, 2.5f);
         EXPECT_FLOAT_EQ(d.group_b_, -1.0f);
         EXPECT_FLOAT_EQ(d.battery_adjust_, 0.125f);
         EXPECT_FLOAT_EQ(d.t0_, 0.5f);
         EXPECT_FLOAT_EQ(d.t31_, -0.25f);
       }},
      {"dir", R"({"dir":1})", [](auto& d) { EXPECT_EQ(d.dir_, 1); }},
      {"numeric prefix", R"({"version":" 12abc"})", [](auto& d) { EXPECT_EQ(d.version_, 12); }},
      {"no digits", R"({"version":"abc"})", [](auto& d) { EXPECT_EQ(d.version_, 0); }},
      {"boolean", R"({"version":true})", [](auto& d) { EXPECT_EQ(d.version_, 0); }},
      {"null is absent", R"({"version":null,"group_a":null})",
       [](auto& d) {
         EXPECT_EQ(d.version_, 1);
         EXPECT_FLOAT_EQ(d.group_a_, 1.0f);
       }},
      {"huge integer saturates", R"({"version":"99999999999","dir":-99999999999})",
       [](auto& d) {
         EXPECT_EQ(d.version_, kIntMax);
         EXPECT_EQ(d.dir_, std::numeric_limits<std::int32_t>::min());
       }},
      {"huge real saturates when truncated", R"({"battery_type":1e300,"group_a":1e300})",
       [](auto& d) {
         EXPECT_EQ(d.battery_type_, kIntMax);
         EXPECT_EQ(d.group_a_, std::numeric_limits<float>::infinity());
       }},
      {"r_data_id negative wraps to unsigned", R"({"r_data_id":"-1","r_current_field":"dc"})",
       [](auto& d) {
         EXPECT_EQ(d.r_data_id_, 0xFFFFFFFFu);
         EXPECT_EQ(d.r_current_field_, "dc");
       }},
      {"r_current_field alone does not borrow", R"({"r_current_field":"dc"})",
       [](auto& d) { EXPECT_EQ(d.r_data_id_, 0u); }},
      {"unknown keys are ignored", R"({"colour":"red"})",
       [](auto& d) { EXPECT_EQ(d.version_, 1); }},
  });
}

TEST(Setting, SaveIntervalInMinutes) {
  RunKeyCases({
      {"10 minutes", R"({"save_interval":10})", [](auto& d) { EXPECT_EQ(d.save_interval_, 600); }},
      {"zero", R"({"save_interval":0})", [](auto& d) { EXPECT_EQ(d.save_interval_, 28800); }},
      {"negative", R"({"save_interval":"-5"})",
       [](auto& d) { EXPECT_EQ(d.save_interval_, 28800); }},
      {"largest that fits", R"({"save_interval":35791394})",
       [](auto& d) { EXPECT_EQ(d.save_interval_, 2147483640); }},
      {"one more clamps instead of overflowing", R"({"save_interval":35791395})",
       [](auto& d) { EXPECT_EQ(d.save_interval_, kIntMax); }},
      {"huge", R"({"save_interval":"99999999999"})",
       [](auto& d) { EXPECT_EQ(d.save_interval_, kIntMax); }},
      {"hugely negative", R"({"save_interval":-2147483648})",
       [](auto& d) { EXPECT_EQ(d.save_interval_, 28800); }},
  });
}

TEST(Setting, CellGroupsActiveCellsAndNumbering) {
  using Cells = std::vector<std::int32_t>;
  RunKeyCases({
      {"second group", R"({"group_index":2,"amount":3})",
       [](auto& d) {
         EXPECT_EQ(d.battery_start_, 17);
         EXPECT_EQ(d.active_batteries_, (Cells{0, 1, 2}));
       }},
      {"first group", R"({"group_index":"1","amount":"2"})",
       [](auto& d) {
         EXPECT_EQ(d.battery_start_, 0);
         EXPECT_EQ(d.active_batteries_, (Cells{0, 1}));
       }},
      {"group plus active cells without duplicates",
       R"({"group_index":2,"amount":3,"active_batteries":[2,5,5]})",
       [](auto& d) {
         EXPECT_EQ(d.active_batteries_, (Cells{0, 1, 2, 5}));
       }},
      {"battery_start overrides the group's numbering",
       R"({"group_index":2,"amount":3,"battery_start":4})",
       [](auto& d) { EXPECT_EQ(d.battery_start_, 4); }},
      {"unknown group changes nothing", R"({"group_index":3,"amount":4})",
       [](auto& d) {
         EXPECT_EQ(d.battery_start_, 0);
         EXPECT_TRUE(d.active_batteries_.empty());
       }},
      {"group without amount is ignored", R"({"group_index":2})",
       [](auto& d) { EXPECT_EQ(d.battery_start_, 0); }},
      {"zero amount still numbers the group", R"({"group_index":2,"amount":0})",
       [](auto& d) {
         EXPECT_EQ(d.battery_start_, 17);
         EXPECT_TRUE(d.active_batteries_.empty());
       }},
      {"huge amount is bounded by the cells a reply carries",
       R"({"group_index":1,"amount":2147483647})",
       [](auto& d) { EXPECT_EQ(d.active_batteries_.size(), 32u); }},
      {"active cells as text, kept out of range for the check to skip",
       R"({"active_batteries":["3",40,-1]})",
       [](auto& d) {
         EXPECT_EQ(d.active_batteries_, (Cells{3, 40, -1}));
       }},
      {"active cells not an array are ignored", R"({"active_batteries":5})",
       [](auto& d) { EXPECT_TRUE(d.active_batteries_.empty()); }},
  });
}

TEST(Setting, PeerGroupVoltages) {
  using Ids = std::vector<std::uint32_t>;
  RunKeyCases({
      {"number, text and duplicate", R"({"group_voltage":[12,"12",13]})",
       [](auto& d) {
         EXPECT_EQ(d.group_voltage_ids_, (Ids{12, 13}));
       }},
      {"not an array", R"({"group_voltage":12})",
       [](auto& d) { EXPECT_TRUE(d.group_voltage_ids_.empty()); }},
  });
}

TEST(Setting, ValuesWithoutTextFormThrowAfterEarlierKeysAreTaken) {
  BatteryOnBench bench;
  EXPECT_THROW(bench.dev.InitSetting(ParseJson(R"({"appSetting":{"version":2,"dir":[1]}})")),
               Json::LogicError);
  EXPECT_EQ(bench.dev.version_, 2);
  EXPECT_EQ(bench.dev.dir_, 0);
  EXPECT_THROW(bench.dev.InitSetting(ParseJson(R"({"appSetting":{"group_voltage":[1,{"a":2}]}})")),
               Json::LogicError);
}

TEST(Setting, RepeatedRunsAppendToTheLists) {
  BatteryOnBench bench(R"({"appSetting":{"group_index":1,"amount":2,"group_voltage":[4]}})");
  bench.dev.InitSetting(
      ParseJson(R"({"appSetting":{"group_index":1,"amount":2,"group_voltage":[4,5]}})"));
  EXPECT_EQ(bench.dev.active_batteries_, (std::vector<std::int32_t>{0, 1, 0, 1}));
  EXPECT_EQ(bench.dev.group_voltage_ids_, (std::vector<std::uint32_t>{4, 5}));
}

TEST(CText, MatchesTheCLibraryWithinRange) {
  for (const char* text : {"0", "42", "-17", "  +8", "12abc", "abc", "", "0x10", "2147483647",
                           "-2147483648", "\t\n 3"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(TextToInt(text), std::atoi(text));
    EXPECT_EQ(TextToFloat(text), static_cast<float>(std::atof(text)));
  }
  EXPECT_EQ(TextToTruncatedInt("nan"), 0);
  EXPECT_TRUE(std::isnan(TextToFloat("nan")));
  EXPECT_EQ(TextToTruncatedInt("-1e300"), std::numeric_limits<std::int32_t>::min());
}

}  // namespace
}  // namespace halvex::testing
