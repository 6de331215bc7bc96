#pragma once
// UniDataDevice<Record, Base, Code>: a monitor device that keeps its readings
// in one packed data record and closes every poll round the same way:
//
//   stamp the record -> host Reset -> the device's own checks, which refresh
//   the record (RunCheckThreshold) -> publish the record (SendSP, Code) ->
//   the host's analog checks -> the host's rule batch -> history
//
// The record is published after the device's checks, so the image that the
// host receives and the one it stores are the same bytes: this round's
// readings under this round's stamp.
//
// Record: a packed, trivially copyable struct whose bytes are the image; its
//   first field `data_id` (uint32) takes the device's data id and its field
//   `ttime` (TTime) the round's stamp. Every other field is the device's.
// Base: the monitor device below (Battery); its InitSetting runs after ours.
// Code: the data type code under which the host files the record.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>

#include <boost/date_time/posix_time/ptime.hpp>
#include <json/value.h>

#include "battery/c_text.h"
#include "battery/device_log.h"
#include "battery/local_clock.h"
#include "host/ttime.h"

template <typename Record, typename Base, int Code>
class UniDataDevice : public Base {
 public:
  UniDataDevice() = default;
  ~UniDataDevice() override = default;

  // Takes a cached image of exactly sizeof(Record) bytes and runs a round on
  // it, so the host sees it stamped, checked, published and stored like a
  // polled one. A null image or any other length: false, nothing changes.
  bool LoadFromCache(const unsigned char* image, int len) override;
  using Base::LoadFromCache;

  // End of a completed poll round (the order above).
  void RoundDone() override;

  // Reads "appSetting"/"b_mode" and, in mode 3, the "thresholdSetting"
  // table, then hands the whole configuration to the base. Returns the
  // base's result. JSON errors (an array or object where a text is needed,
  // an array as the table) propagate from the JSON library.
  int InitSetting(const Json::Value& setting) override;

  // The device's own round-end work: refresh the record from the round's
  // readings and run its threshold checks. May set data_changed_.
  virtual void RunCheckThreshold() {}

 protected:
  static_assert(std::is_trivially_copyable_v<Record> && std::is_standard_layout_v<Record>,
                "the record is handed over as raw bytes");
  static_assert(offsetof(Record, data_id) == 0 && sizeof(Record::data_id) == 4,
                "the record begins with its 32-bit data id");
  static_assert(sizeof(Record::ttime) == sizeof(TTime), "the record carries a host stamp");

  static constexpr std::int32_t kThresholdMode = 3;  // "b_mode" that reads the table

  const unsigned char* RecordBytes() const {
    return reinterpret_cast<const unsigned char*>(&data_);
  }

  Record data_{};
  std::int32_t b_mode_ = 1;
  std::map<std::string, std::string> signal_ids_;    // key -> "NMAlarmID;ID;SignalNumber;"
  std::map<std::string, std::string> signal_names_;  // key -> "SignalName"
  // When the data last became current: a completed round or a cache
  // restore. Requests sent and bytes received do not count, so values of a
  // monitor that has gone silent age even while the host keeps polling.
  boost::posix_time::ptime data_time_;

 private:
  void ReadThresholdTable(const Json::Value& table);
  void ReadThresholdEntry(const std::string& key, const Json::Value& entry);
  // Appends the text of `part` and its ";", or logs that it is missing.
  void AppendIdentityPart(const Json::Value& entry, const char* part, std::string& identity);
  void CheckAnalogSignals();
};

// Internals of the members below.
namespace halvex::internal {

// `object`'s member `key` when `object` is a JSON object and holds it as
// something other than null; else nullptr. Safe on any JSON value.
inline const Json::Value* PresentMember(const Json::Value& object, const char* key) {
  if (!object.isObject()) return nullptr;
  const Json::Value* value = object.find(key, key + std::strlen(key));
  return value != nullptr && !value->isNull() ? value : nullptr;
}

// Writes the stamp bytewise: in a packed record `ttime` may sit at any
// address, and the controller traps on unaligned word access.
template <typename Record>
void StampRecord(Record& record, const TTime& stamp) {
  std::memcpy(reinterpret_cast<unsigned char*>(&record) + offsetof(Record, ttime), &stamp,
              sizeof stamp);
}

}  // namespace halvex::internal

template <typename Record, typename Base, int Code>
bool UniDataDevice<Record, Base, Code>::LoadFromCache(const unsigned char* image, int len) {
  if (image == nullptr || len != static_cast<int>(sizeof(Record))) return false;
  std::memcpy(&data_, image, sizeof(Record));
  this->data_ready_ = true;
  this->RoundDone();
  return true;
}

template <typename Record, typename Base, int Code>
void UniDataDevice<Record, Base, Code>::RoundDone() {
  if (!this->data_ready_) this->data_ready_ = true;
  this->update_time_ = halvex::LocalNow();
  data_time_ = this->update_time_;
  halvex::internal::StampRecord(data_, get_ttime(this->update_time_));
  this->Reset();
  this->device_state_ = 1;
  this->data_changed_ = false;
  this->RunCheckThreshold();
  this->SendSP(Code, RecordBytes(), sizeof(Record), false);
  CheckAnalogSignals();
  halvex::DeviceLogLine("rvSize is ", static_cast<int>(this->rule_values_.size()));
  if (this->DoBatchCheckThreshold(this->rule_values_)) this->data_changed_ = true;
  this->SaveDeviceHistory(RecordBytes(), sizeof(Record));
  this->rule_values_.clear();
}

template <typename Record, typename Base, int Code>
void UniDataDevice<Record, Base, Code>::CheckAnalogSignals() {
  for (const std::string& name : this->ao_names_) {
    const auto found = this->ao_values_.find(name);
    if (found == this->ao_values_.end()) continue;
    if (this->CheckAOReport(name, found->second)) this->data_changed_ = true;
    this->CheckThreshold(name, "", found->second, 1);
  }
}

template <typename Record, typename Base, int Code>
int UniDataDevice<Record, Base, Code>::InitSetting(const Json::Value& setting) {
  using halvex::internal::PresentMember;
  data_.data_id = this->DataId();
  const Json::Value* app = PresentMember(setting, "appSetting");
  if (const Json::Value* mode = app != nullptr ? PresentMember(*app, "b_mode") : nullptr) {
    b_mode_ = halvex::TextToInt(mode->asString());
    halvex::DeviceLogLine("InitSetting ", this->DataId(), " b_mode_:", b_mode_);
  }
  if (b_mode_ == kThresholdMode) {
    halvex::DeviceLogLine("here 1");
    if (const Json::Value* table = PresentMember(setting, "thresholdSetting")) {
      halvex::DeviceLogLine("here 2");
      ReadThresholdTable(*table);
    }
  }
  return Base::InitSetting(setting);
}

// {"thresholdSetting": {"battery_0_value": {"SignalName": "...", "NMAlarmID": "...",
//                                           "ID": "...", "SignalNumber": "..."}, ...}}
template <typename Record, typename Base, int Code>
void UniDataDevice<Record, Base, Code>::ReadThresholdTable(const Json::Value& table) {
  // Members in the JSON library's order (ascending by name), each looked up
  // by its name: a scalar has no members, an array's cannot be named (the
  // library throws).
  for (auto it = table.begin(); it != table.end(); ++it) {
    const std::string key = it.key().asString();
    halvex::DeviceLogLine("here ", key);
    ReadThresholdEntry(key, table[key]);
  }
}

template <typename Record, typename Base, int Code>
void UniDataDevice<Record, Base, Code>::ReadThresholdEntry(const std::string& key,
                                                           const Json::Value& entry) {
  using halvex::internal::PresentMember;
  if (!entry.isObject()) return;
  if (const Json::Value* name = PresentMember(entry, "SignalName"))
    signal_names_[key] = name->asString();
  std::string identity;
  AppendIdentityPart(entry, "NMAlarmID", identity);
  AppendIdentityPart(entry, "ID", identity);
  AppendIdentityPart(entry, "SignalNumber", identity);
  // The host's level and value for the key; asking creates them at 0.
  const int level = this->threshold_levels_[key];
  const float value = this->threshold_values_[key];
  halvex::DeviceLogLine("mobile:", key, ":", identity, " level:", level, " value:", value);
  signal_ids_[key] = identity;
}

template <typename Record, typename Base, int Code>
void UniDataDevice<Record, Base, Code>::AppendIdentityPart(const Json::Value& entry,
                                                           const char* part,
                                                           std::string& identity) {
  if (const Json::Value* text = halvex::internal::PresentMember(entry, part))
    identity += text->asString();
  else
    halvex::DeviceLogLine(this->DataId(), " ", part, " is missing");
  identity += ";";
}
