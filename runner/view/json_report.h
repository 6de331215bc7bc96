#pragma once
// One JSON object per round, on one line, for scripts (--json):
//
//   {"round":3,"time":"2026-12-08 10:00:03","devices":[{"name":"string-A",
//    "data_id":1,"port":"demo-bus","state":"ok","age_s":0,"cells":[13.31,...],
//    "group_voltage":399.1,"group_current":-5.0,"temperature":25.0,
//    "min":{"cell":18,"volts":13.21},"max":{...},"spread":0.13,
//    "health":{"cells":30,"mean":13.29,"sigma_mv":24.1,"spread_mv":130,
//              "worst":{"cell":18,"deviation_mv":-82.7},"deviations_mv":[12.3,...]},
//    "link":{"rounds":3,"resends":0,"rejected":0,"timeouts":0,"round_ms":43.4,
//            "round_ms_mean":43.5},
//    "alarms":[{"name":"battery_17_value","text":"第18节电池","point":18,
//               "kind":"low","value":11.5,"limit":12.0}]}],
//    "events":["2026-12-08 10:00:03 alarm raised: ..."]}
//
// A value the device does not give is null ("health" too, when no cell has
// a reading; a cell without one has a null deviation); "state" is one of "ok",
// "stale", "no data", "offline", "error" (with "error" holding its text).

#include <string>
#include <vector>

#include <json/value.h>

#include "runner/lines/site_view.h"
#include "support/json_path.h"

namespace runner {

Json::Value RoundJson(const SiteView& view, const std::vector<std::string>& events);

// The object as compact JSON text, without a line end.
using support::OneLine;

}  // namespace runner
