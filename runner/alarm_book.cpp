#include "runner/alarm_book.h"

#include <cmath>
#include <optional>

namespace runner {
namespace {

bool Breaches(const Limit& limit, AlarmKind kind, float value) {
  if (kind == AlarmKind::kLow) return limit.low && value < *limit.low;
  return limit.high && value > *limit.high;
}

bool Clears(const Limit& limit, AlarmKind kind, float value) {
  if (kind == AlarmKind::kLow) return !limit.low || value >= *limit.low + limit.hysteresis;
  return !limit.high || value <= *limit.high - limit.hysteresis;
}

float LimitOf(const Limit& limit, AlarmKind kind) {
  const std::optional<float>& l = kind == AlarmKind::kLow ? limit.low : limit.high;
  return l.value_or(NAN);
}

}  // namespace

const char* AlarmKindName(AlarmKind kind) { return kind == AlarmKind::kLow ? "low" : "high"; }

std::vector<AlarmChange> AlarmBook::Check(const std::string& name, const std::string& text,
                                          float value, int point) {
  std::vector<AlarmChange> changes;
  const Limit* limit = limits_.Find(name);
  if (limit == nullptr || std::isnan(value)) return changes;
  auto change = [&](AlarmKind kind, bool raised) {
    changes.push_back({name, text, point, kind, raised, value, LimitOf(*limit, kind)});
  };

  auto it = active_.find(name);
  if (it != active_.end()) {
    it->second.value = value;
    if (!Clears(*limit, it->second.kind, value)) return changes;
    change(it->second.kind, false);
    active_.erase(it);
  }
  for (AlarmKind kind : {AlarmKind::kLow, AlarmKind::kHigh}) {
    if (!Breaches(*limit, kind, value)) continue;
    active_[name] = {name, text, point, kind, value, LimitOf(*limit, kind)};
    change(kind, true);
    break;
  }
  return changes;
}

std::vector<ActiveAlarm> AlarmBook::Active() const {
  std::vector<ActiveAlarm> out;
  for (const auto& [name, alarm] : active_) out.push_back(alarm);
  return out;
}

}  // namespace runner
