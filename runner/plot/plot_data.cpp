#include "runner/plot/plot_data.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <numeric>
#include <utility>

#include "runner/alarms/health_alarms.h"
#include "runner/alarms/string_health.h"
#include "runner/plugin_access/device_cells.h"

namespace runner::plot {
namespace {

PlotSeries SeriesOf(const std::vector<HistoryRow>& rows, const std::string& name, SeriesRole role,
                    const std::function<float(const BatteryRecord&)>& pick) {
  PlotSeries series{name, role, {}};
  series.points.reserve(rows.size());
  for (const HistoryRow& row : rows)
    series.points.push_back({row.utc, static_cast<double>(pick(row.record))});
  return series;
}

PlotPanel SinglePanel(const std::vector<HistoryRow>& rows, const std::string& title,
                      const std::function<float(const BatteryRecord&)>& pick) {
  PlotPanel panel;
  panel.title = title;
  panel.series.push_back(SeriesOf(rows, "", SeriesRole::kMain, pick));
  return panel;
}

// Index of the cell whose extreme reading over all rows is the most
// extreme; `lower` picks by the lowest readings, else the highest.
int ExtremeCell(const std::vector<HistoryRow>& rows, int count, bool lower) {
  int best = 0;
  float best_value = lower ? INFINITY : -INFINITY;
  for (int k = 0; k < count; ++k) {
    for (const HistoryRow& row : rows) {
      const float v = row.record.cells[static_cast<std::size_t>(k)];
      if (!std::isfinite(v)) continue;  // a damaged reading is no extreme
      if (lower ? v < best_value : v > best_value) {
        best = k;
        best_value = v;
      }
    }
  }
  return best;
}

PlotPanel CellPanel(const std::vector<HistoryRow>& rows, const CellNumbering& cells) {
  PlotPanel panel;
  panel.title = "cell voltages (V)";
  panel.weight = 2.0;
  panel.context_name = "other cells";
  const int lowest = ExtremeCell(rows, cells.count, true);
  const int highest = ExtremeCell(rows, cells.count, false);
  const auto cell = [](int k) {
    return [k](const BatteryRecord& r) { return r.cells[static_cast<std::size_t>(k)]; };
  };
  // The named cells go last so they are drawn over the grey ones.
  for (int k = 0; k < cells.count; ++k)
    if (k != lowest && k != highest)
      panel.series.push_back(SeriesOf(rows, "", SeriesRole::kContext, cell(k)));
  panel.series.push_back(
      SeriesOf(rows, cells.Name(highest) + " (highest)", SeriesRole::kHighest, cell(highest)));
  if (lowest != highest)
    panel.series.push_back(
        SeriesOf(rows, cells.Name(lowest) + " (lowest)", SeriesRole::kLowest, cell(lowest)));
  return panel;
}

std::string WholeMillivolts(double mv) { return std::to_string(std::lround(mv)) + " mV"; }

// A line at +level and one at -level, named alike so the legend shows one.
void AddLimitPair(PlotPanel& panel, const std::optional<float>& level_mv, LimitLevel level,
                  const char* level_name) {
  if (!level_mv) return;
  const std::string name = std::string(level_name) + " \u00B1" + WholeMillivolts(*level_mv);
  panel.limits.push_back({name, *level_mv, level});
  panel.limits.push_back({name, -*level_mv, level});
}

// The health panel reaches this far beyond its widest limit.
constexpr double kLimitMargin = 1.5;

// Each cell's deviation from the mean row by row, as the health the
// history shows computes it; the cells that went farthest from the mean are
// drawn, farthest first.
PlotPanel HealthPanel(const std::vector<HistoryRow>& rows, const CellNumbering& cells,
                      const HealthLimitLines& limits) {
  PlotPanel panel;
  panel.title = "deviation from the string's mean (mV)";
  panel.weight = 1.5;
  const std::size_t count = static_cast<std::size_t>(cells.count);
  // deviation[k][i]: cell k at row i; NaN where the row has no reading of it.
  std::vector<std::vector<double>> deviation(count, std::vector<double>(rows.size(), NAN));
  std::vector<double> farthest(count, NAN);  // signed; NaN: never read
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::optional<StringHealth> health =
        HealthOfCells(rows[i].record.cells.data(), cells.count, cells.first);
    if (!health) continue;
    for (const CellDeviation& d : health->deviations) {
      const std::size_t k = static_cast<std::size_t>(d.number - cells.first);
      deviation[k][i] = d.deviation_mv;
      if (!(std::fabs(farthest[k]) >= std::fabs(d.deviation_mv))) farthest[k] = d.deviation_mv;
    }
  }
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  const auto reach = [&](std::size_t k) {  // a cell never read comes last
    return std::isnan(farthest[k]) ? -1.0 : std::fabs(farthest[k]);
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return reach(a) > reach(b); });
  for (int pick = 0; pick < kWorstCellsShown && pick < cells.count; ++pick) {
    const std::size_t k = order[static_cast<std::size_t>(pick)];
    if (std::isnan(farthest[k])) break;
    PlotSeries series{cells.Name(static_cast<int>(k)) + " (" + SignedMillivolts(farthest[k]) + ")",
                      SeriesRole::kPicked,
                      {},
                      pick};
    for (std::size_t i = 0; i < rows.size(); ++i)
      series.points.push_back({rows[i].utc, deviation[k][i]});
    panel.series.push_back(std::move(series));
  }
  // The spread (highest - lowest) of each row, as a line of its own.
  PlotSeries spread{"spread", SeriesRole::kMain, {}, 0};
  for (const HistoryRow& row : rows) {
    const std::optional<StringHealth> health =
        HealthOfCells(row.record.cells.data(), cells.count, cells.first);
    spread.points.push_back({row.utc, health ? health->spread_mv : NAN});
  }
  panel.series.push_back(std::move(spread));
  if (limits.deviation) {
    AddLimitPair(panel, limits.deviation->warning_mv, LimitLevel::kWarning, "warning");
    AddLimitPair(panel, limits.deviation->critical_mv, LimitLevel::kCritical, "critical");
  }
  // Scaled to the limits, not to the worst cell: one weak block far beyond
  // them would flatten every other line. What lies beyond is marked.
  double widest = 0;
  for (const LimitLine& l : panel.limits) widest = std::max(widest, std::fabs(l.value));
  if (widest > 0) panel.scale = std::make_pair(-kLimitMargin * widest, kLimitMargin * widest);
  if (panel.limits.empty()) panel.note = limits.missing;
  return panel;
}

// Panels in the order BuildPlotData makes them.
enum PanelIndex : std::size_t {
  kCellPanel,
  kHealthPanel,
  kStringPanel,
  kCurrentPanel,
  kTemperaturePanel
};

// Where an alarm goes and what it is called there: a cell's by its number
// in the string, the others by the value.
AlarmMark MarkOf(const AlarmRow& a, const CellNumbering& cells) {
  const std::string kind = std::string(" ") + AlarmKindName(a.change.kind);
  AlarmMark mark{a.utc, a.change.raised, a.change.name + kind, kCellPanel};
  if (const std::optional<int> k = CellOfValueName(a.change.name)) {
    mark.text = cells.Name(*k) + kind;
  } else if (a.change.name == kDeviationAlarm) {
    // The point is the device's: cell k is point k + 1.
    mark.text = cells.Name(a.change.point - 1) + " deviation" + kind;
    mark.panel = kHealthPanel;
  } else if (a.change.name == kSpreadAlarm) {
    mark.text = "spread" + kind;
    mark.panel = kHealthPanel;
  } else if (a.change.name == "group_voltage") {
    mark.panel = kStringPanel;
  } else if (a.change.name == "group_current") {
    mark.panel = kCurrentPanel;
  } else if (a.change.name == "temperature") {
    mark.panel = kTemperaturePanel;
  }
  return mark;
}

std::vector<OffsetFrom> OffsetsOf(const std::vector<HistoryRow>& rows) {
  std::vector<OffsetFrom> offsets;
  for (const HistoryRow& row : rows)
    if (offsets.empty() || offsets.back().offset_s != row.utc_offset_s)
      offsets.push_back({row.utc, row.utc_offset_s});
  return offsets;
}

}  // namespace

std::int64_t PlotData::LocalSeconds(std::int64_t utc) const {
  int offset = offsets.empty() ? 0 : offsets.front().offset_s;
  for (const OffsetFrom& o : offsets)
    if (o.utc <= utc) offset = o.offset_s;
  return utc + offset;
}

PlotData BuildPlotData(const std::vector<HistoryRow>& rows, const std::vector<AlarmRow>& alarms,
                       const CellNumbering& cells, const std::string& title,
                       const HealthLimitLines& limits) {
  PlotData data;
  data.title = title;
  data.rows = rows.size();
  if (rows.empty()) return data;
  data.from_utc = rows.front().utc;
  data.to_utc = rows.back().utc;
  data.offsets = OffsetsOf(rows);
  data.panels.push_back(CellPanel(rows, cells));
  data.panels.push_back(HealthPanel(rows, cells, limits));
  data.panels.push_back(SinglePanel(rows, "string voltage (V)",
                                    [](const BatteryRecord& r) { return r.group_voltage; }));
  data.panels.push_back(
      SinglePanel(rows, "current (A)", [](const BatteryRecord& r) { return r.group_current; }));
  data.panels.push_back(SinglePanel(rows, "temperature (\u00B0C)",
                                    [](const BatteryRecord& r) { return r.temperature; }));
  for (const AlarmRow& a : alarms) data.alarms.push_back(MarkOf(a, cells));
  return data;
}

PlotData LoadPlotData(HistoryStore& store, unsigned data_id, const TimeRange& range,
                      const HealthLimitLines& limits) {
  std::vector<HistoryRow> rows;
  store.ForEachRow(data_id, range, [&](const HistoryRow& row) {
    // The decoded record is all a plot needs, not the raw bytes.
    rows.push_back(
        {row.id, row.time, row.utc, row.utc_offset_s, row.data_id, row.reason, row.record, {}});
  });
  std::vector<AlarmRow> alarms;
  store.ForEachAlarm(data_id, range, [&](const AlarmRow& a) { alarms.push_back(a); });
  const std::optional<DeviceInfo> device = store.Device(data_id);
  std::string title = (device && !device->name.empty() ? device->name + ", " : std::string()) +
                      "data id " + std::to_string(data_id);
  if (!rows.empty()) title += ", " + rows.front().time + " to " + rows.back().time;
  return BuildPlotData(rows, alarms, NumberingOf(device), title, limits);
}

}  // namespace runner::plot
