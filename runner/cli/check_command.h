#pragma once
// qorv-host check SITE: everything a start of the site would meet, without
// polling. One line per item, "ok" or the reason:
//
//   site: ok (/etc/qorv-host/demo.json)
//   plug-in: ok (/usr/lib/qorv/plugins/halvex_30.so)
//   device string-A (data id 1): ok
//   port rs485: /dev/ttyUSB0 is in use by pid 1234 (minicom)
//   history: ok (/var/lib/qorv-host/demo/history.db)
//   broker: 127.0.0.1:1883 refused the connection: not authorised
//
// The check writes no history row, creates no database and tells the
// broker nothing (no last will, no "online").

#include <chrono>
#include <ostream>
#include <string>

#include "runner/cli/site_overrides.h"

namespace runner {

struct CheckOptions {
  SiteOverrides overrides;                      // as a start would apply them
  std::string default_plugin;                   // when the site names none
  std::chrono::milliseconds broker_wait{5000};  // for the broker's answer to the connect
};

// Checks the site file at `path` item by item, writing one line per item to
// `out`. Returns 0 when every item is ok, 1 otherwise.
int RunCheck(const std::string& path, const CheckOptions& options, std::ostream& out);

}  // namespace runner
