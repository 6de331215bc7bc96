#include "runner/round/round_result.h"

#include <algorithm>

namespace runner {

std::optional<float> RoundResult::Cell(int k) const {
  if (!std::binary_search(layout.active.begin(), layout.active.end(), k)) return std::nullopt;
  return record.cells[static_cast<std::size_t>(k)];
}

std::shared_ptr<RoundResult> MakeRoundResult(const std::string& device, unsigned data_id,
                                             const HostInstant& at, const unsigned char* data,
                                             std::size_t len, const CellLayout& layout) {
  const std::optional<BatteryRecord> record = DecodeRecord(data, len);
  if (!record) return nullptr;
  auto result = std::make_shared<RoundResult>();
  result->device = device;
  result->data_id = data_id;
  result->at = at;
  result->raw.assign(data, data + len);
  result->record = *record;
  result->layout = layout;
  for (const int k : layout.active) {
    if (k < 0 || k >= static_cast<int>(kRecordCellSlots)) continue;
    const CellReading here{CellNumber(layout.first_number, k),
                           record->cells[static_cast<std::size_t>(k)]};
    result->cells.push_back(here);
    if (!result->min_cell || here.volts < result->min_cell->volts) result->min_cell = here;
    if (!result->max_cell || here.volts > result->max_cell->volts) result->max_cell = here;
  }
  result->health = ComputeHealth(result->cells);
  return result;
}

}  // namespace runner
