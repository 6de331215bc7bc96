#include "sim/scaling.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace {

constexpr double kCountsPerVolt12 = 100.0;
constexpr double kCountsPerVolt6 = 1000.0;
constexpr double kCountsPerDeciVolt = 10.0;
constexpr double kCountsPerCentiVolt = 100.0;
constexpr double kPlainCountsPerAmp = 10.0;
constexpr double kSensorZeroCounts = 2500.0;
constexpr double kSensorCountsPerAmp = 25.0;
constexpr double kCountsPerDegree = 100.0;

uint16_t Unsigned(double counts) {
  return static_cast<uint16_t>(std::clamp<long>(std::lround(counts), 0, 0xFFFF));
}

uint16_t TwosComplement(double counts) {
  const long clamped = std::clamp<long>(std::lround(counts), -0x8000, 0xFFFF);
  return static_cast<uint16_t>(clamped & 0xFFFF);
}

}  // namespace

CellWindow WindowOf(CellType type) {
  return type == CellType::kSixVolt ? CellWindow{4.5, 7.5} : CellWindow{9.0, 15.0};
}

uint16_t CellCounts(double volts, CellType type) {
  return Unsigned(volts * (type == CellType::kSixVolt ? kCountsPerVolt6 : kCountsPerVolt12));
}

uint16_t GroupCounts(double volts, GroupScale scale) {
  return Unsigned(volts *
                  (scale == GroupScale::kCentiVolt ? kCountsPerCentiVolt : kCountsPerDeciVolt));
}

uint16_t CurrentCounts(double amps, CurrentEncoding encoding) {
  if (encoding == CurrentEncoding::kSensor) {
    return Unsigned(kSensorZeroCounts + amps * kSensorCountsPerAmp);
  }
  return TwosComplement(amps * kPlainCountsPerAmp);
}

uint16_t TemperatureCounts(double celsius) { return TwosComplement(celsius * kCountsPerDegree); }

}  // namespace sim
