#pragma once
// What a history plot shows, gathered from the history database and kept
// apart from the drawing: panels stacked on one time axis, each with its
// series and horizontal limit lines, and the alarm raises and clears marked
// across them. Times are instants (seconds since 1970 UTC); the offsets in
// force let the axis be labelled in local time as the host stamped it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runner/alarms/health_limits.h"
#include "runner/history/history_store.h"
#include "runner/plugin_access/device_cells.h"

namespace runner::plot {

struct PlotPoint {
  std::int64_t utc = 0;
  double value = 0.0;
};

// How a series stands out; the renderer picks colours and widths from it.
enum class SeriesRole {
  kMain,     // the panel's own value, in the panel's colour
  kContext,  // one of many alike (every cell), thin and grey
  kLowest,   // the lowest of the many, in colour
  kHighest,  // the highest of the many, in colour
  kPicked,   // one of a few picked out, each in a colour of its own by `pick`
};

struct PlotSeries {
  std::string name;  // legend text; empty: not in the legend
  SeriesRole role = SeriesRole::kMain;
  std::vector<PlotPoint> points;  // in time order
  int pick = 0;                   // kPicked: which of the picked ones
};

enum class LimitLevel { kWarning, kCritical };

// A horizontal line across a panel, e.g. an alarm limit.
struct LimitLine {
  std::string name;
  double value = 0.0;
  LimitLevel level = LimitLevel::kWarning;
};

struct PlotPanel {
  std::string title;    // with its unit, e.g. "string voltage (V)"
  double weight = 1.0;  // share of the height against the other panels
  std::vector<PlotSeries> series;
  std::vector<LimitLine> limits;
  // A legend entry for the series drawn with `role` but not named one by
  // one (e.g. "other cells").
  std::string context_name;
  std::string note;  // plain text under the legend, its lines split by '\n'
  // A fixed value range (low, high) instead of one fitted to the data:
  // values beyond it are clipped and marked at the edge.
  std::optional<std::pair<double, double>> scale;
};

struct AlarmMark {
  std::int64_t utc = 0;
  bool raised = false;    // false: cleared
  std::string text;       // e.g. "cell 18 low"
  std::size_t panel = 0;  // the panel showing the value it concerns
};

// The offset from UTC (seconds) in force from `utc` on.
struct OffsetFrom {
  std::int64_t utc = 0;
  int offset_s = 0;
};

struct PlotData {
  std::string title;
  std::int64_t from_utc = 0;  // the first and last row's instants
  std::int64_t to_utc = 0;
  std::size_t rows = 0;
  std::vector<PlotPanel> panels;
  std::vector<AlarmMark> alarms;
  std::vector<OffsetFrom> offsets;  // in time order; the first covers from_utc

  // Local time at `utc`, in seconds on the same scale as `utc`.
  std::int64_t LocalSeconds(std::int64_t utc) const;
};

// The deviation limits drawn across the health panel. The history database
// does not keep them: they come from the device's site, if one is given.
struct HealthLimitLines {
  std::optional<HealthLevels> deviation;
  std::string missing = "no limits drawn:\ngive --site";  // the legend's note without them
};

// How many of the cells farthest from the mean the health panel shows.
inline constexpr int kWorstCellsShown = 3;

// Panels in order: every cell's voltage (the lowest and highest cell of the
// range named), the string's health, the string voltage, the current, the
// temperature. The lowest cell is the one whose lowest reading is the
// lowest of all, the highest the one whose highest reading is the highest;
// ties go to the lower number. The health panel shows the deviation from
// the string's mean (mV) of the kWorstCellsShown cells that were farthest
// from it at any row, farthest first, with the deviation limits at ± each
// level. `rows` are in time order.
PlotData BuildPlotData(const std::vector<HistoryRow>& rows, const std::vector<AlarmRow>& alarms,
                       const CellNumbering& cells, const std::string& title,
                       const HealthLimitLines& limits = {});

// The same, read from `store` for one data id and range.
PlotData LoadPlotData(HistoryStore& store, unsigned data_id, const TimeRange& range,
                      const HealthLimitLines& limits = {});

}  // namespace runner::plot
