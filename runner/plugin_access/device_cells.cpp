#include "runner/plugin_access/device_cells.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace runner {
namespace {

constexpr int kThirtyCellString = 30;
constexpr int kSecondGroupStart = 17;  // "group_index" 2 numbers its cells from 18
const std::string kCellPrefix = "battery_", kCellSuffix = "_value";

// As the device reads an integer, but with no undefined conversion: a value
// beyond 32 bits counts as 0 (the site file refuses it before this).
int ConfigInt(const Json::Value& value) {
  double number = 0;
  if (value.isNumeric()) number = value.asDouble();
  if (value.isString())
    number = static_cast<double>(std::strtol(value.asString().c_str(), nullptr, 10));
  return number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max()
             ? static_cast<int>(number)
             : 0;
}

bool Present(const Json::Value& object, const char* key) {
  return object.isMember(key) && !object[key].isNull();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int CellCountOf(const std::string& device_type) {
  return device_type == "halvex_30" ? kThirtyCellString : kRecordCells;
}

std::string CellValueName(int cell) { return kCellPrefix + std::to_string(cell) + kCellSuffix; }

std::optional<int> CellOfValueName(const std::string& name) {
  if (name.size() <= kCellPrefix.size() + kCellSuffix.size() ||
      name.compare(0, kCellPrefix.size(), kCellPrefix) != 0 ||
      name.compare(name.size() - kCellSuffix.size(), kCellSuffix.size(), kCellSuffix) != 0)
    return std::nullopt;
  const std::string digits =
      name.substr(kCellPrefix.size(), name.size() - kCellPrefix.size() - kCellSuffix.size());
  if (digits.size() > 4 || !std::all_of(digits.begin(), digits.end(), IsDigit)) return std::nullopt;
  return std::stoi(digits);
}

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

int FirstCellNumber(const Json::Value& config) {
  if (!config.isObject() || !config["appSetting"].isObject()) return 1;
  const Json::Value& app = config["appSetting"];
  int start = 0;
  if (Present(app, "group_index") && Present(app, "amount") && ConfigInt(app["group_index"]) == 2)
    start = kSecondGroupStart;
  if (Present(app, "battery_start")) start = ConfigInt(app["battery_start"]);
  return start + 1;
}

std::string HistoryCellColumn(int cell) { return "cell_" + std::to_string(cell + 1); }

CellWindow WindowOfString(std::optional<float> highest_volts) {
  return highest_volts && *highest_volts < kSixVoltWindow.high ? kSixVoltWindow : kTwelveVoltWindow;
}

}  // namespace runner
