// What a site file read again changes: devices kept, added, removed, with
// new limits or replaced; ports reopened; keys only a restart can change.

#include "runner/lines/site_reload.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace runner {
namespace {

constexpr const char* kSite = R"({
  "history_db": null,
  "ports": [{"name": "a", "path": "/dev/ttyS1"}, {"name": "b", "path": "/dev/ttyS2"}],
  "devices": [
    {"name": "d1", "data_id": 1, "address": 1, "port": "a",
     "limits": [{"name": "temperature", "high": 40}]},
    {"name": "d2", "data_id": 2, "address": 2, "port": "a"},
    {"name": "d3", "data_id": 3, "address": 1, "port": "b"}
  ]
})";

Site Read(const Json::Value& root) { return ParseSite(root, "site.json", ""); }

using Names = std::vector<std::string>;

TEST(SiteReloadTest, TellsKeptAddedRemovedAndChangedDevices) {
  struct Case {
    const char* name;
    std::function<void(Json::Value&)> edit;
    Names kept, added, removed, limits, replaced, reopened;
    std::string refused;  // the key named
  };
  const Json::Value d4 = ParseSiteJson(R"({"name": "d4", "data_id": 4, "address": 3,
                                          "port": "b"})",
                                       "d4");
  const std::vector<Case> cases = {
      {"the same file", [](Json::Value&) {}, {"d1", "d2", "d3"}, {}, {}, {}, {}, {}, ""},
      {"a limit moved",
       [](Json::Value& s) { s["devices"][0]["limits"][0]["high"] = 30; },
       {"d2", "d3"},
       {},
       {},
       {"d1"},
       {},
       {},
       ""},
      {"health limits given",
       [](Json::Value& s) { s["devices"][1]["health"]["spread_mv"] = Json::objectValue; },
       {"d1", "d3"},
       {},
       {},
       {"d2"},
       {},
       {},
       ""},
      {"an address",
       [](Json::Value& s) { s["devices"][1]["address"] = 7; },
       {"d1", "d3"},
       {},
       {},
       {},
       {"d2"},
       {},
       ""},
      {"moved to the other port",
       [](Json::Value& s) { s["devices"][1]["port"] = "b"; },
       {"d1", "d3"},
       {},
       {},
       {},
       {"d2"},
       {},
       ""},
      {"its configuration",
       [](Json::Value& s) { s["devices"][2]["config"]["appSetting"]["save_interval"] = 5; },
       {"d1", "d2"},
       {},
       {},
       {},
       {"d3"},
       {},
       ""},
      {"one added, one removed",
       [&](Json::Value& s) {
         s["devices"].append(d4);
         Json::Value gone;
         s["devices"].removeIndex(1, &gone);
       },
       {"d1", "d3"},
       {"d4"},
       {"d2"},
       {},
       {},
       {},
       ""},
      {"a port's path",
       [](Json::Value& s) { s["ports"][1]["path"] = "/dev/ttyUSB0"; },
       {"d1", "d2", "d3"},
       {},
       {},
       {},
       {},
       {"b"},
       ""},
      {"the poll period",
       [](Json::Value& s) { s["poll_period_s"] = 2; },
       {"d1", "d2", "d3"},
       {},
       {},
       {},
       {},
       {},
       ""},
      {"the database",
       [](Json::Value& s) { s["history_db"] = "/tmp/h.db"; },
       {},
       {},
       {},
       {},
       {},
       {},
       "history_db"},
      {"the plug-in",
       [](Json::Value& s) { s["plugin"] = "/opt/other.so"; },
       {},
       {},
       {},
       {},
       {},
       {},
       "plugin"},
      {"the broker",
       [](Json::Value& s) { s["mqtt"]["url"] = "mqtt://broker.lan"; },
       {},
       {},
       {},
       {},
       {},
       {},
       "mqtt"},
  };
  const Site before = Read(ParseSiteJson(kSite, "site.json"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json::Value root = ParseSiteJson(kSite, "site.json");
    c.edit(root);
    const SiteChanges changes = DiffSites(before, Read(root));
    EXPECT_EQ(changes.kept, c.kept);
    EXPECT_EQ(changes.added, c.added);
    EXPECT_EQ(changes.removed, c.removed);
    EXPECT_EQ(changes.limits, c.limits);
    EXPECT_EQ(changes.replaced, c.replaced);
    EXPECT_EQ(changes.ports_reopened, c.reopened);
    EXPECT_EQ(changes.refused.rfind(c.refused + (c.refused.empty() ? "" : ":"), 0), 0u)
        << changes.refused;
  }
}

}  // namespace
}  // namespace runner
