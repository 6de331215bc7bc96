#pragma once
// The messages a device's rounds become, as JSON text.
//
// PREFIX/DEVICE/state, one per completed round:
//   {"device":"string-A","data_id":1,"seq":812,"time":"2026-12-09T10:00:03+01:00",
//    "state":"ok","backlog":false,"first_cell":1,"cells":{"1":13.312,"2":13.298,...},
//    "group_voltage":399.1,"group_current":-5.0,"temperature":25.0,
//    "min":{"cell":18,"volts":13.21},"max":{"cell":3,"volts":13.34},"spread_mv":130.0,
//    "mean":13.2901,"sigma_mv":24.1,"worst":{"cell":18,"deviation_mv":-82.7},
//    "link":{"rounds":812,"resends":0,"rejected":0,"timeouts":1}}
// "seq" goes up by one per round of the device and carries on across restarts;
// "backlog" is true for a round sent again after the broker was away.
//
// PREFIX/DEVICE/alarm, one per raise or clear:
//   {"device":"string-A","event":"raised","family":"cell","name":"battery_17_value",
//    "text":"第18节电池","point":18,"level":"low","value":11.5,"limit":12.0,
//    "time":"2026-12-09T10:00:03+01:00",
//    "message":"第18节电池 (battery_17_value, point 18) low 11.500 < 12.000"}
//
// PREFIX/DEVICE/alarms, retained: the active ones, as a JSON array of
//   {"family","name","text","point","level","value","limit","since"}.

#include <cstdint>
#include <string>
#include <vector>

#include "runner/alarms/alarm_book.h"
#include "runner/round/data_state.h"
#include "runner/round/round_result.h"

namespace runner::publish {

// What an alarm is about, one problem sensor each: "cell", "string_voltage",
// "current", "temperature", "deviation", "spread", or "other".
std::string AlarmFamily(const std::string& value_name);
const std::vector<std::string>& AlarmFamilies();

std::string StateMessage(const RoundResult& round, std::uint64_t seq, DataState state);
// The same message marked as sent again; empty when `message` is not one.
std::string AsBacklog(const std::string& message);
std::string AlarmMessage(const RoundResult& round, const AlarmChange& change);
std::string AlarmListMessage(const std::vector<ActiveAlarm>& alarms);

}  // namespace runner::publish
