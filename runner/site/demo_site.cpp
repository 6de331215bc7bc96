#include "runner/site/demo_site.h"

#include "runner/site/demo_site_json.h"

namespace runner {

Json::Value DemoSiteJson(bool pace, const std::string& history_db) {
  Json::Value root = ParseSiteJson(internal::kDemoSiteJson, "built-in demo site");
  root["ports"][0]["sim"]["pace"] = pace;
  root["history_db"] = history_db;
  return root;
}

Site DemoSite(bool pace, const std::string& history_db) {
  return ParseSite(DemoSiteJson(pace, history_db), "built-in demo site", "");
}

}  // namespace runner
