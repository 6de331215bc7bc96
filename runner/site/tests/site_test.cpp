#include "runner/site/site.h"

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "runner/site/json_fields.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

// Two devices on a serial line and one on a simulated one; each case below
// breaks one thing.
constexpr const char* kGoodSite = R"({
  "poll_period_s": 0.5,
  "reply_timeout_ms": 100,
  "history_db": "h.db",
  "save_interval_minutes": 10,
  "ports": [{"name": "rs485", "path": "/dev/ttyUSB0"},
            {"name": "bench", "path": "sim", "sim": {"cells": 30, "cell_volts": 13.1}}],
  "devices": [
    {"name": "A", "data_id": 1, "address": 1, "port": "rs485",
     "config": {"appSetting": {"save_interval": "5"}},
     "limits": [{"name": "battery_*_value", "low": 12.0, "high": 14.4, "hysteresis": 0.1}]},
    {"name": "B", "data_id": 2, "address": 2, "port": "rs485",
     "config": {"appSetting": {"group_voltage": [1], "battery_start": 30}}},
    {"name": "C", "data_id": 3, "address": 1, "port": "bench"}
  ]
})";

Json::Value GoodRoot() { return ParseSiteJson(kGoodSite, "test"); }

TEST(SiteTest, ReadsAGoodSite) {
  const Site site = ParseSite(GoodRoot(), "site.json", "/etc/qorv");
  EXPECT_DOUBLE_EQ(site.poll_period_s, 0.5);
  EXPECT_EQ(site.reply_timeout_ms, 100u);
  EXPECT_EQ(site.history_db, "/etc/qorv/h.db") << "relative paths are the site file's";
  ASSERT_EQ(site.devices.size(), 3u);
  EXPECT_EQ(site.devices[0].save_interval_minutes, 5u) << "the device's own interval wins";
  EXPECT_EQ(site.devices[1].save_interval_minutes, 10u) << "else the site's";
  EXPECT_EQ(site.devices[1].peer_ids, std::vector<unsigned>{1});
  EXPECT_EQ(site.devices[1].config["appSetting"]["battery_start"].asInt(), 30)
      << "the device configuration is passed through unchanged";
  EXPECT_EQ(site.devices[0].WireAddress(), 0x81);
  ASSERT_NE(site.devices[0].limits.Find("battery_7_value"), nullptr);
  // The simulated line without a monitor list serves one monitor per device
  // on it, at that device's wire address, with the profile given.
  ASSERT_TRUE(site.ports[1].sim.has_value());
  ASSERT_EQ(site.ports[1].sim->monitors.size(), 1u);
  EXPECT_EQ(site.ports[1].sim->monitors[0].profile.address, 0x81);
  EXPECT_DOUBLE_EQ(site.ports[1].sim->monitors[0].profile.cell_volts.at(0), 13.1);
}

TEST(SiteTest, DefaultsWhenTheSiteSaysLittle) {
  Json::Value root = GoodRoot();
  for (const char* key :
       {"poll_period_s", "reply_timeout_ms", "history_db", "save_interval_minutes"})
    root.removeMember(key);
  const Site site = ParseSite(root, "site.json", "");
  EXPECT_DOUBLE_EQ(site.poll_period_s, 1.0);
  EXPECT_EQ(site.reply_timeout_ms, 200u);
  EXPECT_EQ(site.history_db, "qorv-history.db");
  EXPECT_EQ(site.devices[1].save_interval_minutes, 480u) << "the device's own default, 28800 s";
}

// A change to the good site, and the error it must give.
struct BadCase {
  const char* name;
  std::function<void(Json::Value&)> spoil;
  const char* where;
  const char* problem;  // a part of the problem text
};

TEST(SiteTest, RejectsABadSiteNamingThePathAndTheProblem) {
  const BadCase cases[] = {
      {"typo in a key", [](Json::Value& r) { r["poll_period"] = 1; }, "poll_period", "unknown key"},
      {"history in a file without a name", [](Json::Value& r) { r["history_db"] = ""; },
       "history_db", "null runs the site without history"},
      // Ranges checked before any conversion: these have none defined.
      {"cells numbered from 2^40",
       [](Json::Value& r) {
         r["devices"][1]["config"]["appSetting"]["battery_start"] = Json::Int64{1} << 40;
       },
       "devices[1].config.appSetting.battery_start", "0..9999, got 1099511627776"},
      {"cells numbered below 1",
       [](Json::Value& r) { r["devices"][1]["config"]["appSetting"]["battery_start"] = -3; },
       "devices[1].config.appSetting.battery_start", "0..9999, got -3"},
      {"cells numbered from text beyond long",
       [](Json::Value& r) {
         r["devices"][1]["config"]["appSetting"]["battery_start"] = "99999999999999999999";
       },
       "devices[1].config.appSetting.battery_start", "0..9999"},
      {"an interval of 1e300 minutes",
       [](Json::Value& r) { r["devices"][0]["config"]["appSetting"]["save_interval"] = 1e300; },
       "devices[0].config.appSetting.save_interval", "..65535, got 1.0000000000000001e+300"},
      {"a group index beyond 32 bits",
       [](Json::Value& r) { r["devices"][0]["config"]["appSetting"]["group_index"] = 1e12; },
       "devices[0].config.appSetting.group_index", "..2147483647"},
      {"a site interval of 1e300 minutes",
       [](Json::Value& r) { r["save_interval_minutes"] = 1e300; }, "save_interval_minutes",
       "1..65535"},
      {"no devices", [](Json::Value& r) { r["devices"] = Json::arrayValue; }, "devices",
       "non-empty array"},
      {"address out of range", [](Json::Value& r) { r["devices"][1]["address"] = 300; },
       "devices[1].address", "0..255, got 300"},
      {"address that reads as the preamble",
       [](Json::Value& r) { r["devices"][1]["address"] = 126; }, "devices[1].address", "0xFE"},
      {"data id as text", [](Json::Value& r) { r["devices"][0]["data_id"] = "1"; },
       "devices[0].data_id", "whole number"},
      {"data id 0", [](Json::Value& r) { r["devices"][0]["data_id"] = 0; }, "devices[0].data_id",
       "got 0"},
      {"port that does not exist", [](Json::Value& r) { r["devices"][2]["port"] = "rs232"; },
       "devices[2].port", "names no port: \"rs232\""},
      {"two ports on one serial device",
       [](Json::Value& r) {
         Json::Value twin = r["ports"][0];
         twin["name"] = "again";
         r["ports"].append(twin);
       },
       "ports[2].path", "/dev/ttyUSB0 is already used by ports[0]"},
      {"two devices with one data id", [](Json::Value& r) { r["devices"][2]["data_id"] = 1; },
       "devices[2].data_id", "data id 1 is already used by devices[0]"},
      {"two devices with one name", [](Json::Value& r) { r["devices"][2]["name"] = "A"; },
       "devices[2].name", "\"A\" is already used by devices[0]"},
      {"two monitors at one address on one line",
       [](Json::Value& r) { r["devices"][1]["address"] = 1; }, "devices[1].address",
       "address 1 on port \"rs485\" is already used by devices[0]"},
      {"low above high", [](Json::Value& r) { r["devices"][0]["limits"][0]["low"] = 15; },
       "devices[0].limits[0].low", "below \"high\""},
      {"a limit with neither end",
       [](Json::Value& r) {
         r["devices"][0]["limits"][0].removeMember("low");
         r["devices"][0]["limits"][0].removeMember("high");
       },
       "devices[0].limits[0]", "needs \"low\", \"high\" or both"},
      {"a hysteresis wider than the band",
       [](Json::Value& r) { r["devices"][0]["limits"][0]["hysteresis"] = 2; },
       "devices[0].limits[0].hysteresis", "half the distance"},
      {"health warning above its critical level",
       [](Json::Value& r) {
         r["devices"][0]["health"]["deviation_mv"]["warning"] = 150;
         r["devices"][0]["health"]["deviation_mv"]["critical"] = 100;
       },
       "devices[0].health.deviation_mv.warning", "below \"critical\""},
      {"health cells naming no cell",
       [](Json::Value& r) { r["devices"][0]["health"]["deviation_mv"]["cells"] = "cell_*"; },
       "devices[0].health.deviation_mv.cells", "matches no value"},
      {"configuration that is not an object", [](Json::Value& r) { r["devices"][0]["config"] = 5; },
       "devices[0].config", "must be an object"},
      {"save interval the io-control cannot carry",
       [](Json::Value& r) { r["devices"][0]["config"]["appSetting"]["save_interval"] = 70000; },
       "devices[0].config.appSetting.save_interval", "..65535, got 70000"},
      {"peer id that is not a number",
       [](Json::Value& r) { r["devices"][1]["config"]["appSetting"]["group_voltage"][0] = "one"; },
       "devices[1].config.appSetting.group_voltage[0]", "must be a data id"},
      {"peer that no device is",
       [](Json::Value& r) { r["devices"][1]["config"]["appSetting"]["group_voltage"][0] = 9; },
       "devices[1].config.appSetting.group_voltage[0]", "no device has data id 9"},
      {"reply timeout not below the poll period",
       [](Json::Value& r) { r["reply_timeout_ms"] = 500; }, "reply_timeout_ms",
       "shorter than the poll period"},
      {"simulator setting out of range", [](Json::Value& r) { r["ports"][1]["sim"]["cells"] = 40; },
       "ports[1].sim", "cells"},
      {"simulator address without a monitor list",
       [](Json::Value& r) { r["ports"][1]["sim"]["address"] = "0x81"; }, "ports[1].sim.address",
       "\"monitors\" list"},
      {"simulator settings on a real line",
       [](Json::Value& r) { r["ports"][0]["sim"] = Json::objectValue; }, "ports[0].sim",
       "only for a port whose path is \"sim\""},
      {"metrics port as a number", [](Json::Value& r) { r["metrics"] = 9108; }, "metrics",
       "must be a string"},
      {"metrics address not an address", [](Json::Value& r) { r["metrics"] = "10.0.0.300:9108"; },
       "metrics", "\"10.0.0.300\" is no IPv4 address"},
      {"metrics host name", [](Json::Value& r) { r["metrics"] = "ctl.example:9108"; }, "metrics",
       "is no IPv4 address"},
      {"metrics IPv6 without brackets", [](Json::Value& r) { r["metrics"] = "::1:9108"; },
       "metrics", "give PORT, ADDRESS:PORT or [IPV6-ADDRESS]:PORT"},
      {"metrics bad IPv6", [](Json::Value& r) { r["metrics"] = "[::g]:9108"; }, "metrics",
       "is no IPv6 address"},
      {"metrics port 0", [](Json::Value& r) { r["metrics"] = "127.0.0.1:0"; }, "metrics",
       "port must be 1..65535, got \"0\""},
      {"metrics port 65536", [](Json::Value& r) { r["metrics"] = "65536"; }, "metrics",
       "port must be 1..65535"},
      {"metrics as a URL", [](Json::Value& r) { r["metrics"] = "http://ctl/metrics"; }, "metrics",
       "give PORT"},
      {"metrics empty", [](Json::Value& r) { r["metrics"] = ""; }, "metrics", "is empty"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    Json::Value root = GoodRoot();
    c.spoil(root);
    try {
      ParseSite(root, "bench.json", "");
      ADD_FAILURE() << "accepted";
    } catch (const SiteError& e) {
      EXPECT_EQ(e.where(), c.where);
      EXPECT_NE(e.problem().find(c.problem), std::string::npos) << e.problem();
      EXPECT_EQ(std::string(e.what()).rfind("bench.json: " + std::string(c.where) + ": ", 0), 0u)
          << e.what();
    }
  }
}

// Peer lists as {data id: [peers]}, over devices 1..4 on one line.
std::string PeerCycleError(const std::vector<std::vector<int>>& peers) {
  Json::Value root = GoodRoot();
  root["devices"] = Json::arrayValue;
  for (std::size_t i = 0; i < peers.size(); ++i) {
    Json::Value d(Json::objectValue);
    d["name"] = std::string(1, static_cast<char>('A' + i));
    d["data_id"] = static_cast<int>(i + 1);
    d["address"] = static_cast<int>(i + 1);
    d["port"] = "rs485";
    for (int id : peers[i]) d["config"]["appSetting"]["group_voltage"].append(id);
    root["devices"].append(d);
  }
  try {
    ParseSite(root, "s.json", "");
  } catch (const SiteError& e) {
    return e.what();
  }
  return "";
}

// The device gets its "config" exactly as written: reading it must not add
// the keys it looked for.
TEST(SiteTest, EachDeviceGetsItsConfigurationExactlyAsWritten) {
  const Json::Value root = GoodRoot();
  const Site site = ParseSite(root, "test", "");
  ASSERT_EQ(site.devices.size(), 3u);
  EXPECT_EQ(site.devices[0].config, root["devices"][0]["config"]);
  EXPECT_EQ(site.devices[1].config, root["devices"][1]["config"]);
  EXPECT_EQ(site.devices[2].config, Json::Value(Json::objectValue)) << "none given: empty";
  for (const char* text : {R"({"appSetting": null})", R"({"other": 1})", R"({"appSetting": {}})"}) {
    SCOPED_TRACE(text);
    Json::Value changed = GoodRoot();
    changed["devices"][0]["config"] = ParseSiteJson(text, "config");
    EXPECT_EQ(ParseSite(changed, "test", "").devices[0].config, ParseSiteJson(text, "config"));
  }
}

TEST(SiteTest, ANullHistoryMeansNoneAndAnAbsentOneTheDefault) {
  Json::Value root = GoodRoot();
  root["history_db"] = Json::nullValue;
  EXPECT_EQ(ParseSite(root, "test", "").history_db, "");
  root.removeMember("history_db");
  EXPECT_EQ(ParseSite(root, "test", "/srv").history_db, "/srv/qorv-history.db");
}

// JSON has no comments; a lenient reading would take a file that jq and
// Python refuse.
TEST(SiteTest, CommentsAreRefusedWhereTheyStand) {
  const struct {
    const char* name;
    const char* text;
    const char* place;
  } cases[] = {
      {"in an object", "{\n  \"ports\": [], // lines\n}", "line 2, column 16"},
      {"block in an array", "{\"ports\": [ /* none */ ]}", "line 1, column 13"},
      {"at the top", "// site\n{}", "line 1, column 1"},
      {"after the end", "{}\n/* end */", "line 2, column 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ParseSiteJson(c.text, "s.json");
      ADD_FAILURE() << "accepted";
    } catch (const SiteError& e) {
      EXPECT_NE(
          std::string(e.what()).find(std::string("s.json: (syntax): ") + c.place + ": a comment"),
          std::string::npos)
          << e.what();
    }
  }
  EXPECT_NO_THROW(ParseSiteJson(R"({"path": "//host/share", "x": "a\"/*b"})", "s.json"))
      << "slashes inside strings are text";
}

TEST(SiteTest, RejectsPeerSumsThatFeedBack) {
  struct Case {
    const char* name;
    std::vector<std::vector<int>> peers;
    const char* expected;  // empty: accepted
  };
  const Case cases[] = {
      {"one long string, summed once", {{}, {1}}, ""},
      {"a chain", {{}, {1}, {2}, {1, 2}}, ""},
      {"two devices adding each other",
       {{2}, {1}},
       "s.json: devices[0].config.appSetting.group_voltage: peer sums form a cycle: 'A' (data id "
       "1) "
       "adds 'B' (data id 2), which adds 'A' (data id 1)"},
      {"a device adding itself",
       {{}, {2}},
       "s.json: devices[1].config.appSetting.group_voltage: peer sums form a cycle: 'B' (data id "
       "2) "
       "adds its own group voltage"},
      {"a loop of three behind a tail",
       {{2}, {3}, {4}, {2}},
       "s.json: devices[1].config.appSetting.group_voltage: peer sums form a cycle: 'B' (data id "
       "2) "
       "adds 'C' (data id 3), which adds 'D' (data id 4), which adds 'B' (data id 2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PeerCycleError(c.peers), c.expected);
  }
}

TEST(SiteTest, TheExampleSitesAreValid) {
  for (const char* name : {"bench-site.json", "sim-site.json"}) {
    SCOPED_TRACE(name);
    const std::string path = std::string(QORV_EXAMPLES_DIR) + "/" + name;
    Site site;
    EXPECT_NO_THROW(site = LoadSiteFile(path));
    EXPECT_EQ(site.history_db.rfind(QORV_EXAMPLES_DIR, 0), 0u);
  }
}

TEST(SiteTest, FileErrorsNameTheFile) {
  halvex::testing::TestFolder folder;
  const std::string path = folder / "broken_site.json";
  {
    std::ofstream out(path);
    out << "{\n  \"ports\": [],\n  \"devices\": [\n}\n";
  }
  try {
    LoadSiteFile(path);
    ADD_FAILURE() << "accepted";
  } catch (const SiteError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(path + ": (syntax): * Line 4", 0), 0u) << e.what();
  }
  EXPECT_THROW(LoadSiteFile(path + ".missing"), SiteError);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace runner
