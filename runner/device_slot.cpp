#include "runner/device_slot.h"

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
