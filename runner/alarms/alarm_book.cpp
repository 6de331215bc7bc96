#include "runner/alarms/alarm_book.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "runner/plugin_access/device_cells.h"

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

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && IsDigit(a[ei])) ++ei;
      while (ej < b.size() && IsDigit(b[ej])) ++ej;
      // Compare the runs as numbers: without leading zeros, the longer is larger.
      std::size_t zi = i, zj = j;
      while (zi + 1 < ei && a[zi] == '0') ++zi;
      while (zj + 1 < ej && b[zj] == '0') ++zj;
      if (ei - zi != ej - zj) return ei - zi < ej - zj;
      const int order = a.compare(zi, ei - zi, b, zj, ej - zj);
      if (order != 0) return order < 0;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

const char* AlarmKindName(AlarmKind kind) {
  switch (kind) {
    case AlarmKind::kLow: return "low";
    case AlarmKind::kHigh: return "high";
    case AlarmKind::kWarning: return "warning";
    case AlarmKind::kCritical: return "critical";
  }
  return "?";
}

AlarmKind AlarmKindNamed(const std::string& name) {
  for (AlarmKind kind : {AlarmKind::kHigh, AlarmKind::kWarning, AlarmKind::kCritical})
    if (name == AlarmKindName(kind)) return kind;
  return AlarmKind::kLow;
}

std::vector<AlarmChange> AlarmBook::Check(const std::string& name, const std::string& text,
                                          float value, int point) {
  std::vector<AlarmChange> changes;
  const Limit* limit = LimitFor(name);
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
    active_[name] = {name, text, point, kind, value, LimitOf(*limit, kind), {}};
    change(kind, true);
    break;
  }
  return changes;
}

const Limit* AlarmBook::LimitFor(const std::string& name) const {
  const Limit* limit = limits_.Find(name);
  if (limit == nullptr || !cells_ || limit->name == name) return limit;
  const std::optional<int> cell = CellOfValueName(name);
  if (cell && !std::binary_search(cells_->begin(), cells_->end(), *cell)) return nullptr;
  return limit;
}

std::vector<ActiveAlarm> AlarmBook::Active() const {
  std::vector<ActiveAlarm> out;
  for (const auto& [name, alarm] : active_) out.push_back(alarm);
  std::sort(out.begin(), out.end(),
            [](const ActiveAlarm& a, const ActiveAlarm& b) { return NaturalLess(a.name, b.name); });
  return out;
}

}  // namespace runner
