#pragma once
// How an alarm reads wherever the host shows it: the event log, the live
// view and the history table all go by this one rule.
//
//   "第18节电池 (battery_17_value, point 18) low 11.500 < 12.000"
//   "第18节电池 (battery_17_value, point 18) low 13.300 >= 12.000"  (cleared)
//   "第18节电池 −112 mV from the mean (σ 13 mV) (deviation_mv, point 18) warning > 100 mV"
//
// A limit alarm gives the value against the limit; a health alarm's text
// already holds its figure, so only the level's limit follows, in mV. Where
// room is short (the live view's 80 columns) the source in brackets is cut
// to the value name, and left out for a health alarm:
//
//   "第18节电池 (battery_17_value) low 11.500 < 12.000"
//   "第18节电池 −112 mV from the mean (σ 13 mV) warning > 100 mV"

#include <string>

#include "runner/alarms/alarm_book.h"

namespace runner {

enum class AlarmSource { kFull, kShort };

// A raise or a clear as it happens.
std::string AlarmText(const AlarmChange& change, AlarmSource source = AlarmSource::kFull);
// An alarm that holds now, as when it was raised, with its latest value.
std::string AlarmText(const ActiveAlarm& alarm, AlarmSource source = AlarmSource::kFull);

// "alarm raised: DEVICE TEXT" or "alarm cleared: DEVICE TEXT": the event.
std::string DescribeAlarm(const std::string& device, const AlarmChange& change);

}  // namespace runner
