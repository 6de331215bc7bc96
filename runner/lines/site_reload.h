#pragma once
// What a new reading of the site file changes in the running site: which
// devices and ports stay as they are, which come and go, and which changed.
//
//   SiteChanges changes = DiffSites(running, reread);
//   if (!changes.refused.empty()) ...        // the site stays as it runs
//
// Devices are told apart by name, ports by name. A device whose limits alone
// changed is updated where it runs; any other change (address, data id,
// port, configuration, history interval) replaces it. A port whose path or
// simulated monitors changed is reopened. The plug-in, the history database
// and the MQTT settings cannot change while the host runs: a site that
// changes them is refused, naming the key.

#include <string>
#include <vector>

#include "runner/site/site.h"

namespace runner {

struct SiteChanges {
  // The key that cannot change without a restart, and why; "" when the new
  // site can be applied.
  std::string refused;
  std::vector<std::string> kept;            // devices as they were
  std::vector<std::string> added;           // devices new to the site
  std::vector<std::string> removed;         // devices no longer in it
  std::vector<std::string> limits;          // devices whose limits alone changed
  std::vector<std::string> replaced;        // devices changed otherwise
  std::vector<std::string> ports_reopened;  // kept ports whose path or monitors changed

  // "site reloaded: N kept, A added, R removed, C changed".
  std::string Summary() const;
};

SiteChanges DiffSites(const Site& before, const Site& after);

}  // namespace runner
