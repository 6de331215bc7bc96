#pragma once
// How evenly a string's blocks share its voltage: the mean, the population
// standard deviation σ (the string is the whole population, not a sample of
// one), the spread (highest - lowest) and each block's deviation from the
// mean. Under float charge a weak block drifts away from its neighbours long
// before it reaches an absolute floor, so these show it first.
//
//   std::optional<StringHealth> h = ComputeHealth({{1, 13.30f}, {2, 13.18f}});
//   h->sigma_mv  // 60.0

#include <optional>
#include <string>
#include <vector>

namespace runner {

// One block's reading and its number in the whole string.
struct CellReading {
  int number = 0;
  float volts = 0.0f;
};

struct CellDeviation {
  int number = 0;
  double deviation_mv = 0.0;  // reading - mean; negative below the mean
};

struct StringHealth {
  int cells = 0;          // readings taken into account
  double mean_v = 0.0;    // volts
  double sigma_mv = 0.0;  // population standard deviation
  double spread_mv = 0.0;
  CellReading lowest;
  CellReading highest;
  std::vector<CellDeviation> deviations;  // in the order the readings came

  // The block farthest from the mean; the first of equals.
  const CellDeviation& Worst() const;
};

// Over the readings given; a reading of 0 V or less, or not a number, is
// no reading (an empty slot, a block outside the monitor's window) and is
// left out. Empty when no reading is left.
std::optional<StringHealth> ComputeHealth(const std::vector<CellReading>& readings);

// Over cells 0 .. count - 1 of a record's cell array, cell k numbered
// first_number + k: what a history row's cells give.
std::optional<StringHealth> HealthOfCells(const float* cells, int count, int first_number);
// Over the cells `which` names (a device's configured cells) of a published
// record's kRecordCells, cell k numbered first_number + k.
std::optional<StringHealth> HealthOfCells(const float* cells, const std::vector<int>& which,
                                          int first_number);

// "−112 mV", "+31 mV", "0 mV": rounded to whole millivolts, with U+2212 for
// the minus sign.
std::string SignedMillivolts(double mv);

}  // namespace runner
