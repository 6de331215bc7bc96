#include "runner/lines/device_slot.h"

#include <algorithm>
#include <cstdlib>

namespace runner {
namespace {

constexpr int kThirtyCellString = 30;
constexpr int kRecordCells = 32;
constexpr int kSecondGroupStart = 17;  // "group_index" 2 numbers its cells from 18

int ConfigInt(const Json::Value& value) {
  if (value.isNumeric()) return static_cast<int>(value.asDouble());
  if (value.isString()) return std::atoi(value.asString().c_str());
  return 0;
}

bool Present(const Json::Value& object, const char* key) {
  return object.isMember(key) && !object[key].isNull();
}

}  // namespace

std::vector<int> ConfiguredCells(const Json::Value& config, int cells_answered) {
  std::vector<int> cells;
  const Json::Value& app =
      config.isObject() && config["appSetting"].isObject() ? config["appSetting"] : Json::Value();
  if (app.isObject() && Present(app, "group_index") && Present(app, "amount")) {
    const int group = ConfigInt(app["group_index"]);
    if (group == 1 || group == 2)
      for (int k = 0, n = std::min(ConfigInt(app["amount"]), cells_answered); k < n; ++k)
        cells.push_back(k);
  }
  if (app.isObject() && app["active_batteries"].isArray())
    for (const Json::Value& entry : app["active_batteries"]) {
      const int k = ConfigInt(entry);
      if (k >= 0 && k < cells_answered) cells.push_back(k);
    }
  if (cells.empty())
    for (int k = 0; k < cells_answered; ++k) cells.push_back(k);
  std::sort(cells.begin(), cells.end());
  cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
  return cells;
}

std::optional<StringHealth> HealthOfRecord(const DeviceSlot& slot, const float* cells) {
  std::vector<CellReading> readings;
  for (const int k : slot.active_cells)
    if (k >= 0 && k < kRecordCells) readings.push_back({slot.first_cell_number + k, cells[k]});
  return ComputeHealth(readings);
}

int CellCountOf(const std::string& device_type) {
  return device_type == "halvex_30" ? kThirtyCellString : kRecordCells;
}

int FirstCellNumber(const Json::Value& config) {
  if (!config.isObject() || !config["appSetting"].isObject()) return 1;
  const Json::Value& app = config["appSetting"];
  int start = 0;
  if (Present(app, "group_index") && Present(app, "amount") && ConfigInt(app["group_index"]) == 2)
    start = kSecondGroupStart;
  if (Present(app, "battery_start")) start = ConfigInt(app["battery_start"]);
  return start + 1;
}

}  // namespace runner
