#pragma once
// Physical values to the monitor's 16-bit wire readings.
//
// Readings carry no scale or sign on the wire; the device and the monitor
// agree on them out of band:
//   cell voltage   12 V blocks: 0.01 V a count    6 V blocks: 0.001 V a count
//   group voltage  0.1 V or 0.01 V a count
//   current        plain: 0.1 A a count
//                  sensor: 2500 counts = 0 A, amps = (counts / 10 / 125 - 2) * 50,
//                  so 25 counts an ampere, 0 counts = -100 A
//   temperature    0.01 degC a count
// Values are rounded to the nearest count. Unsigned quantities clamp to
// 0..65535; a negative plain current or temperature goes out as 16-bit two's
// complement, as a monitor with a signed register sends it.

#include <cstdint>

namespace sim {

enum class CellType { kTwelveVolt = 12, kSixVolt = 6 };
enum class GroupScale { kDeciVolt, kCentiVolt };
enum class CurrentEncoding { kPlain, kSensor };

// The voltages a device accepts for one block; both ends are valid.
struct CellWindow {
  double low;
  double high;
};
CellWindow WindowOf(CellType type);

uint16_t CellCounts(double volts, CellType type);
uint16_t GroupCounts(double volts, GroupScale scale);
uint16_t CurrentCounts(double amps, CurrentEncoding encoding);
uint16_t TemperatureCounts(double celsius);

}  // namespace sim
