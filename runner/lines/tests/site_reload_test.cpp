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

// "kept d2 d3; limits d1": each list that is not empty, in a fixed order;
// a refusal as its key alone.
std::string Describe(const SiteChanges& c) {
  if (!c.refused.empty()) return "refused " + c.refused.substr(0, c.refused.find(':'));
  std::string out;
  for (const auto& [what, names] : {std::pair{"kept", c.kept},
                                    {"added", c.added},
                                    {"removed", c.removed},
                                    {"limits", c.limits},
                                    {"replaced", c.replaced},
                                    {"reopened", c.ports_reopened}}) {
    if (names.empty()) continue;
    out += (out.empty() ? "" : "; ") + std::string(what);
    for (const std::string& name : names) out += " " + name;
  }
  return out;
}

TEST(SiteReloadTest, TellsKeptAddedRemovedAndChangedDevices) {
  using Edit = std::function<void(Json::Value&)>;
  const std::vector<std::tuple<const char*, Edit, const char*>> cases = {
      {"the same file", [](Json::Value&) {}, "kept d1 d2 d3"},
      {"a limit", [](Json::Value& s) { s["devices"][0]["limits"][0]["high"] = 30; },
       "kept d2 d3; limits d1"},
      {"health limits",
       [](Json::Value& s) { s["devices"][1]["health"]["spread_mv"] = Json::objectValue; },
       "kept d1 d3; limits d2"},
      {"an address", [](Json::Value& s) { s["devices"][1]["address"] = 7; },
       "kept d1 d3; replaced d2"},
      {"another port", [](Json::Value& s) { s["devices"][1]["port"] = "b"; },
       "kept d1 d3; replaced d2"},
      {"the configuration",
       [](Json::Value& s) { s["devices"][2]["config"]["appSetting"]["save_interval"] = 5; },
       "kept d1 d2; replaced d3"},
      {"one added, one removed",
       [](Json::Value& s) {
         s["devices"][1]["name"] = "d4";
         s["devices"][1]["data_id"] = 4;
       },
       "kept d1 d3; added d4; removed d2"},
      {"a port's path", [](Json::Value& s) { s["ports"][1]["path"] = "/dev/ttyUSB0"; },
       "kept d1 d2 d3; reopened b"},
      {"the poll period", [](Json::Value& s) { s["poll_period_s"] = 2; }, "kept d1 d2 d3"},
      {"the database", [](Json::Value& s) { s["history_db"] = "elsewhere.db"; },
       "refused history_db"},
      {"the plug-in", [](Json::Value& s) { s["plugin"] = "/opt/other.so"; }, "refused plugin"},
      {"the broker", [](Json::Value& s) { s["mqtt"]["url"] = "mqtt://broker.lan"; },
       "refused mqtt"},
  };
  const Site before = ParseSite(ParseSiteJson(kSite, "s.json"), "s.json", "");
  for (const auto& [name, edit, expected] : cases) {
    SCOPED_TRACE(name);
    Json::Value root = ParseSiteJson(kSite, "s.json");
    edit(root);
    EXPECT_EQ(Describe(DiffSites(before, ParseSite(root, "s.json", ""))), expected);
  }
}

}  // namespace
}  // namespace runner
