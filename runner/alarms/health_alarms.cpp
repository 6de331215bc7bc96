#include "runner/alarms/health_alarms.h"

#include <fnmatch.h>

#include <cmath>
#include <optional>

#include "runner/alarms/alarm_limits.h"
#include "runner/plugin_access/device_cells.h"

namespace runner {
namespace {

constexpr int kStringPoint = 1;  // the point of the string's own checks

bool Covers(const std::string& pattern, int k) {
  const std::string name = CellValueName(k);
  return IsPattern(pattern) ? fnmatch(pattern.c_str(), name.c_str(), 0) == 0 : pattern == name;
}

std::string Millivolts(double mv) { return std::to_string(std::lround(mv)) + " mV"; }

}  // namespace

std::string CellText(int number) { return "第" + std::to_string(number) + "节电池"; }

void HealthAlarms::Measure(const Key& key, const HealthLevels& levels, double signed_mv,
                           const char* name, const std::string& text,
                           std::vector<AlarmChange>& clears, std::vector<AlarmChange>& raises) {
  const double magnitude = std::fabs(signed_mv);
  const int point = std::get<1>(key);
  const AlarmKind kind = std::get<2>(key);
  const std::optional<float>& level =
      kind == AlarmKind::kWarning ? levels.warning_mv : levels.critical_mv;
  if (!level) return;
  const auto value = static_cast<float>(signed_mv);
  auto it = active_.find(key);
  if (it != active_.end()) {
    it->second.text = text;
    it->second.value = value;
    if (magnitude > static_cast<double>(*level - levels.hysteresis_mv)) return;
    clears.push_back({name, text, point, kind, false, value, *level});
    active_.erase(it);
    return;
  }
  if (magnitude <= static_cast<double>(*level)) return;
  active_[key] = {name, text, point, kind, value, *level, {}};
  raises.push_back({name, text, point, kind, true, value, *level});
}

std::vector<AlarmChange> HealthAlarms::Check(const StringHealth& health, int first_number) {
  std::vector<AlarmChange> clears, raises;
  // Critical before warning among the clears, warning before critical
  // among the raises: the order a block passes them.
  const AlarmKind order[] = {AlarmKind::kCritical, AlarmKind::kWarning};
  auto measure = [&](int group, int point, const HealthLevels& levels, double mv, const char* name,
                     const std::string& text) {
    std::vector<AlarmChange> raised;
    for (AlarmKind kind : order)
      Measure({group, point, kind}, levels, mv, name, text, clears, raised);
    raises.insert(raises.end(), raised.rbegin(), raised.rend());
  };
  if (limits_.spread) {
    const std::string text = "spread " + std::to_string(std::lround(health.spread_mv)) + " mV (" +
                             CellText(health.lowest.number) + " to " +
                             CellText(health.highest.number) + ")";
    measure(0, kStringPoint, *limits_.spread, health.spread_mv, kSpreadAlarm, text);
  }
  if (limits_.deviation) {
    const std::string sigma = " from the mean (σ " + Millivolts(health.sigma_mv) + ")";
    for (const CellDeviation& d : health.deviations) {
      const int k = d.number - first_number;
      if (!Covers(limits_.deviation_cells, k)) continue;
      const std::string text = CellText(d.number) + " " + SignedMillivolts(d.deviation_mv) + sigma;
      measure(1, k + 1, *limits_.deviation, d.deviation_mv, kDeviationAlarm, text);
    }
  }
  clears.insert(clears.end(), raises.begin(), raises.end());
  return clears;
}

std::vector<ActiveAlarm> HealthAlarms::Active() const {
  std::vector<ActiveAlarm> out;
  for (const auto& [key, alarm] : active_) out.push_back(alarm);
  return out;
}

}  // namespace runner
