#include "fuzz/value_name_check.h"

#include <cstring>
#include <regex>
#include <stdexcept>

#include "battery/query_errors.h"
#include "celldata/cell_name.h"
#include "fuzz/device_harness.h"
#include "runner/recording/recording_controller.h"

namespace halvex::fuzz {
namespace {

constexpr float kCellBase = 100.0f;  // cell k answers 100 + k
constexpr float kGroupVoltage = 50.5f;
constexpr float kGroupCurrent = -1.5f;
constexpr float kTemperature = 20.25f;

// A device whose answers tell which value was read.
DeviceHarness& Rig() {
  static DeviceHarness* rig = [] {
    auto* harness = new DeviceHarness;
    Battery32_Data_t record{};
    for (int cell = 0; cell < 32; ++cell)
      record.battery_value[cell] = kCellBase + static_cast<float>(cell);
    record.group_voltage = kGroupVoltage;
    record.group_current = kGroupCurrent;
    halvex::SetRecordTemperature(record, kTemperature);
    harness->device().LoadFromCache(reinterpret_cast<const unsigned char*>(&record), sizeof record);
    return harness;
  }();
  return *rig;
}

std::string Describe(const std::string& name) {
  return "\"" + name + "\" (" +
         runner::recording::Hex(reinterpret_cast<const unsigned char*>(name.data()),
                                static_cast<unsigned>(name.size())) +
         ")";
}

std::string CheckDigits(const std::string& name) {
  static const std::regex pattern("battery_(\\d+)_value");
  std::smatch match;
  const bool found = std::regex_search(name, match, pattern);
  const auto digits = FindCellDigits(name);
  if (found != digits.has_value())
    return std::string(found ? "no cell digits found in " : "cell digits found in ") +
           Describe(name);
  if (found && (static_cast<std::size_t>(digits->data() - name.data()) !=
                    static_cast<std::size_t>(match.position(1)) ||
                *digits != match[1].str()))
    return "other cell digits than the regular expression's in " + Describe(name);
  return "";
}

std::string CheckAnswer(const std::string& name) {
  const int cell = OracleCell(name);
  float expected = 0.0f;
  bool answers = true;
  if (cell >= 0) {
    expected = kCellBase + static_cast<float>(cell);
  } else if (name == "group_voltage") {
    expected = kGroupVoltage;
  } else if (name == "group_current") {
    expected = kGroupCurrent;
  } else if (name == "temperature") {
    expected = kTemperature;
  } else {
    answers = false;
  }
  try {
    const float value = Rig().device().Get_Value(0, name);
    if (!answers) return "answered " + std::to_string(value) + " for " + Describe(name);
    if (value != expected)
      return "answered " + std::to_string(value) + " instead of " + std::to_string(expected) +
             " for " + Describe(name);
  } catch (const std::out_of_range& e) {
    if (answers) return std::string("refused (") + e.what() + ") " + Describe(name);
    if (std::strcmp(e.what(), kNotSupported) != 0)
      return std::string("refused with ") + e.what() + " " + Describe(name);
  }
  return "";
}

}  // namespace

std::string CheckValueName(const std::string& name) {
  std::string difference = CheckDigits(name);
  if (difference.empty()) difference = CheckAnswer(name);
  return difference;
}

}  // namespace halvex::fuzz
