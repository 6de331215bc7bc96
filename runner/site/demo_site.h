#pragma once
// The site the host runs when it is given none: two monitors on one
// simulated RS-485 line, watching one 60-block string between them. The
// first (string-A, address 1) has blocks 1..30; the second (string-B,
// address 2) numbers its blocks from 31 and adds string-A's group voltage
// to its own, so it reports the whole string. Along the run, block 18 sags
// below its limit and recovers, and string-B's temperature rises for a
// while, so the view shows alarms raised and cleared.

#include <string>

#include "runner/site/site.h"

namespace runner {

// `pace`: replies at the real line speed (19200 bit/s), so round times are
// those of a real line. `history_db` is where the demo keeps its rows.
Site DemoSite(bool pace, const std::string& history_db);

// The demo site as JSON, the form a site file takes.
Json::Value DemoSiteJson(bool pace, const std::string& history_db);

}  // namespace runner
