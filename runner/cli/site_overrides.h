#pragma once
// The run options that change what a site file says: the plug-in, the
// history database and the broker. A start and a check apply them alike,
// so `qorv-host check` looks at what the service's command line would run.

#include <string>

#include "runner/site/site.h"

namespace runner {

struct SiteOverrides {
  std::string plugin;  // over the site's "plugin"
  std::string db;      // over the site's "history_db"
  std::string mqtt;    // broker url over the site's "mqtt" url, or a broker for a site without
};

void ApplyOverrides(const SiteOverrides& overrides, Site& site);

}  // namespace runner
