#include "runner/alarms/string_health.h"

#include <cmath>
#include <string>

#include "runner/plugin_access/device_cells.h"

namespace runner {
namespace {

constexpr double kMillivolts = 1000.0;

bool IsReading(float volts) { return std::isfinite(volts) && volts > 0.0f; }

}  // namespace

const CellDeviation& StringHealth::Worst() const {
  std::size_t worst = 0;
  for (std::size_t i = 1; i < deviations.size(); ++i)
    if (std::fabs(deviations[i].deviation_mv) > std::fabs(deviations[worst].deviation_mv))
      worst = i;
  return deviations.at(worst);
}

std::optional<StringHealth> ComputeHealth(const std::vector<CellReading>& readings) {
  StringHealth h;
  double sum = 0.0;
  for (const CellReading& r : readings) {
    if (!IsReading(r.volts)) continue;
    if (h.cells == 0 || r.volts < h.lowest.volts) h.lowest = r;
    if (h.cells == 0 || r.volts > h.highest.volts) h.highest = r;
    sum += static_cast<double>(r.volts);
    ++h.cells;
  }
  if (h.cells == 0) return std::nullopt;
  h.mean_v = sum / h.cells;
  double squares = 0.0;
  for (const CellReading& r : readings) {
    if (!IsReading(r.volts)) continue;
    const double d = static_cast<double>(r.volts) - h.mean_v;
    squares += d * d;
    h.deviations.push_back({r.number, d * kMillivolts});
  }
  h.sigma_mv = std::sqrt(squares / h.cells) * kMillivolts;
  h.spread_mv =
      (static_cast<double>(h.highest.volts) - static_cast<double>(h.lowest.volts)) * kMillivolts;
  return h;
}

std::optional<StringHealth> HealthOfCells(const float* cells, int count, int first_number) {
  std::vector<CellReading> readings;
  for (int k = 0; k < count; ++k) readings.push_back({CellNumber(first_number, k), cells[k]});
  return ComputeHealth(readings);
}

std::optional<StringHealth> HealthOfCells(const float* cells, const std::vector<int>& which,
                                          int first_number) {
  std::vector<CellReading> readings;
  for (const int k : which)
    if (k >= 0 && k < kRecordCells) readings.push_back({CellNumber(first_number, k), cells[k]});
  return ComputeHealth(readings);
}

std::string SignedMillivolts(double mv) {
  const long rounded = std::lround(mv);
  if (rounded < 0) return "\u2212" + std::to_string(-rounded) + " mV";
  return (rounded > 0 ? "+" : "") + std::to_string(rounded) + " mV";
}

}  // namespace runner
