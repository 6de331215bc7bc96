// Battery::InitSetting: the monitor settings under "appSetting".
//
//   {"appSetting": {"battery_type": 6, "version": "2", "group_voltage": [12, 13], ...}}
//
// Every value is read in its text form, so a number and a string holding the
// same digits configure the same thing. A key holding JSON null is absent.

#include <algorithm>
#include <cstdint>
#include <limits>

#include "battery/battery.h"
#include "battery/c_text.h"
#include "battery/wire.h"
#include "host/device_contract.h"

namespace {

constexpr unsigned char kMonitorAddressOffset = qorv::kBusAddressOffset;

// Battery-string groups of a two-monitor cabinet: the second monitor's
// cells are numbered from 18 in alarm texts.
constexpr std::int32_t kFirstGroup = 1;
constexpr std::int32_t kSecondGroup = 2;
constexpr std::int32_t kSecondGroupStart = 17;

// The member `key` of `object` when it is there and not null; else nullptr.
const Json::Value* Present(const Json::Value& object, const char* key) {
  if (!object.isObject() || !object.isMember(key)) return nullptr;
  const Json::Value& value = object[key];
  return value.isNull() ? nullptr : &value;
}

template <typename Convert, typename T>
void ReadKey(const Json::Value& app, const char* key, Convert convert, T& member) {
  if (const Json::Value* value = Present(app, key))
    member = static_cast<T>(convert(value->asString()));
}

template <typename T>
void AppendUnique(std::vector<T>& list, T value) {
  if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

// Minutes to seconds without overflow; the result stays a positive int32.
std::int32_t SaveIntervalSeconds(std::int32_t minutes, std::int32_t fallback) {
  const std::int64_t seconds = static_cast<std::int64_t>(minutes) * 60;
  if (seconds <= 0) return fallback;
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(seconds, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

int Battery::InitSetting(const Json::Value& setting) {
  using halvex::TextToFloat;
  using halvex::TextToInt;
  using halvex::TextToTruncatedInt;

  addr_ = static_cast<unsigned char>(addr_ + kMonitorAddressOffset);

  const Json::Value* app = Present(setting, "appSetting");
  if (app == nullptr || !app->isObject()) return 1;

  ReadKey(*app, "battery_type", TextToTruncatedInt, battery_type_);
  ReadKey(*app, "current_ratio", TextToTruncatedInt, current_ratio_);
  ReadKey(*app, "group_a", TextToFloat, group_a_);
  ReadKey(*app, "group_b", TextToFloat, group_b_);
  ReadKey(*app, "battery_adjust", TextToFloat, battery_adjust_);
  ReadKey(*app, "version", TextToInt, version_);
  ReadKey(*app, "dir", TextToInt, dir_);
  ReadKey(*app, "r_data_id", TextToInt, r_data_id_);
  if (const Json::Value* field = Present(*app, "r_current_field"))
    r_current_field_ = field->asString();

  if (const Json::Value* minutes = Present(*app, "save_interval"))
    save_interval_ = SaveIntervalSeconds(TextToInt(minutes->asString()), kDefaultSaveInterval);

  const Json::Value* group_index = Present(*app, "group_index");
  const Json::Value* amount = Present(*app, "amount");
  if (group_index != nullptr && amount != nullptr) {
    const std::int32_t group = TextToInt(group_index->asString());
    const std::int32_t count = TextToInt(amount->asString());
    if (group == kFirstGroup || group == kSecondGroup) {
      battery_start_ = group == kFirstGroup ? 0 : kSecondGroupStart;
      // No monitor reports more cells than its reply carries, and the
      // threshold checks skip indices beyond the string, so a huge "amount"
      // must not turn into gigabytes of indices.
      const std::int32_t cells = std::min<std::int32_t>(count, halvex::wire::kCellReadings);
      for (std::int32_t cell = 0; cell < cells; ++cell) active_batteries_.push_back(cell);
    }
  }

  if (const Json::Value* cells = Present(*app, "active_batteries"); cells && cells->isArray())
    for (const Json::Value& cell : *cells)
      AppendUnique(active_batteries_, TextToInt(cell.asString()));

  ReadKey(*app, "battery_start", TextToInt, battery_start_);

  if (const Json::Value* peers = Present(*app, "group_voltage"); peers && peers->isArray())
    for (const Json::Value& peer : *peers)
      AppendUnique(group_voltage_ids_, static_cast<std::uint32_t>(TextToInt(peer.asString())));

  ReadKey(*app, "t0", TextToFloat, t0_);
  ReadKey(*app, "t31", TextToFloat, t31_);
  return 1;
}
