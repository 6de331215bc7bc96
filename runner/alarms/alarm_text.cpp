#include "runner/alarms/alarm_text.h"

#include <cmath>
#include <cstdio>

namespace runner {
namespace {

std::string Volts(float v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(v));
  return text;
}

bool IsHealthKind(AlarmKind kind) {
  return kind == AlarmKind::kWarning || kind == AlarmKind::kCritical;
}

std::string Text(const std::string& name, const std::string& text, int point, AlarmKind kind,
                 float value, float limit, bool holds, AlarmSource source) {
  const bool health = IsHealthKind(kind);
  std::string from = " (" + name + ", point " + std::to_string(point) + ")";
  if (source == AlarmSource::kShort) from = health ? "" : " (" + name + ")";
  const std::string head = text + from + " " + AlarmKindName(kind);
  if (health) return head + (holds ? " > " : " <= ") + std::to_string(std::lround(limit)) + " mV";
  const bool low = kind == AlarmKind::kLow;
  const std::string relation = holds ? (low ? " < " : " > ") : (low ? " >= " : " <= ");
  return head + " " + Volts(value) + relation + Volts(limit);
}

}  // namespace

std::string AlarmText(const AlarmChange& c, AlarmSource source) {
  return Text(c.name, c.text, c.point, c.kind, c.value, c.limit, c.raised, source);
}

std::string AlarmText(const ActiveAlarm& a, AlarmSource source) {
  return Text(a.name, a.text, a.point, a.kind, a.value, a.limit, true, source);
}

std::string DescribeAlarm(const std::string& device, const AlarmChange& change) {
  return (change.raised ? "alarm raised: " : "alarm cleared: ") + device + " " + AlarmText(change);
}

}  // namespace runner
