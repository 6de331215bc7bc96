#include "runner/lines/device_slot.h"

namespace runner {

std::optional<StringHealth> HealthOfRecord(const DeviceSlot& slot, const float* cells) {
  std::vector<CellReading> readings;
  for (const int k : slot.active_cells)
    if (k >= 0 && k < kRecordCells)
      readings.push_back({CellNumber(slot.first_cell_number, k), cells[k]});
  return ComputeHealth(readings);
}

}  // namespace runner
