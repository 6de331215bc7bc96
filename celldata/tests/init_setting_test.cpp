// The data device's own settings: "b_mode" and, in mode 3, the threshold
// table, with the lines they log; then the monitor settings of the base.
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "runner/plugin_access/serial_settings.h"
#include "string_rig.h"

namespace {

using namespace celltest;
using Table = std::map<std::string, std::string>;

constexpr const char* kTable =
    R"("thresholdSetting": {"b": {"SignalName": "电压", "NMAlarmID": 1, "ID": "x", "SignalNumber": null},
                            "a": 5, "c": {"SignalName": "n"}})";

TEST(InitSetting, ModeAndThresholdTable) {
  const struct {
    std::string config;
    std::string log;
    int mode;
    Table ids, names;
  } cases[] = {
      {"{}", "", 1, {}, {}},
      {"[1]", "", 1, {}, {}},
      {R"({"appSetting": [3], )" + std::string(kTable) + "}", "", 1, {}, {}},
      {R"({"appSetting": {"b_mode": null}, )" + std::string(kTable) + "}", "", 1, {}, {}},
      {R"({"appSetting": {"b_mode": "abc"}, )" + std::string(kTable) + "}",
       "InitSetting 7 b_mode_:0\n",
       0,
       {},
       {}},
      {R"({"appSetting": {"b_mode": 2}, )" + std::string(kTable) + "}",
       "InitSetting 7 b_mode_:2\n",
       2,
       {},
       {}},
      {R"({"appSetting": {"b_mode": " 3x"}})", "InitSetting 7 b_mode_:3\nhere 1\n", 3, {}, {}},
      {R"({"appSetting": {"b_mode": 3}, "thresholdSetting": "a"})",
       "InitSetting 7 b_mode_:3\nhere 1\nhere 2\n",
       3,
       {},
       {}},
      {R"({"appSetting": {"b_mode": "3"}, )" + std::string(kTable) + "}",
       "InitSetting 7 b_mode_:3\nhere 1\nhere 2\nhere a\nhere b\n7 SignalNumber is missing\n"
       "mobile:b:1;x;; level:2 value:1.5\nhere c\n7 NMAlarmID is missing\n7 ID is missing\n"
       "7 SignalNumber is missing\nmobile:c:;;; level:0 value:0\n",
       3,
       {{"b", "1;x;;"}, {"c", ";;;"}},
       {{"b", "电压"}, {"c", "n"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    Rig<> rig(Json::objectValue);  // address 0x81, the offset applied once
    rig.dev.threshold_levels_["b"] = 2;
    rig.dev.threshold_values_["b"] = 1.5f;
    Json::Value config;
    std::istringstream(c.config) >> config;
    testing::internal::CaptureStdout();
    EXPECT_EQ(rig.dev.InitSetting(config), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log);
    EXPECT_EQ(rig.dev.b_mode_, c.mode);
    EXPECT_EQ(rig.dev.signal_ids_, c.ids);
    EXPECT_EQ(rig.dev.signal_names_, c.names);
    EXPECT_EQ(rig.dev.threshold_levels_.count("c"), c.ids.count("c"));
    EXPECT_EQ(plugin_access::BusAddress(rig.dev), 0x01) << "the base's settings follow";
  }
}

TEST(InitSetting, JsonErrorsStopBeforeTheBaseSettings) {
  for (const char* config :
       {R"({"appSetting": {"b_mode": [3]}})",
        R"({"appSetting": {"b_mode": 3}, "thresholdSetting": [{"ID": 1}]})",
        R"({"appSetting": {"b_mode": 3}, "thresholdSetting": {"a": {"ID": {}}}})"}) {
    SCOPED_TRACE(config);
    Rig<> rig(Json::objectValue);
    Json::Value setting;
    std::istringstream(config) >> setting;
    testing::internal::CaptureStdout();
    EXPECT_THROW(rig.dev.InitSetting(setting), Json::LogicError);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(plugin_access::BusAddress(rig.dev), kMonitor);
  }
}

}  // namespace
