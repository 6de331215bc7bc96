#include "runner/cli/site_overrides.h"

namespace runner {

void ApplyOverrides(const SiteOverrides& overrides, Site& site) {
  if (!overrides.plugin.empty()) site.plugin = overrides.plugin;
  if (!overrides.db.empty()) site.history_db = overrides.db;
  if (!overrides.mqtt.empty()) {
    if (!site.mqtt) {
      site.mqtt.emplace();
      site.mqtt->client_id = DefaultClientId(SiteName(site.origin));
    }
    site.mqtt->broker = ParseBrokerUrl(overrides.mqtt);
  }
}

}  // namespace runner
