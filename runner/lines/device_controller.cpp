#include "runner/lines/device_controller.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "runner/history/battery_record.h"
#include "runner/time/time_text.h"

namespace runner {
namespace {

std::string Volts(float v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(v));
  return text;
}

}  // namespace

std::string DescribeAlarm(const std::string& device, const AlarmChange& c) {
  const std::string event = c.raised ? "alarm raised: " : "alarm cleared: ";
  if (c.kind == AlarmKind::kWarning || c.kind == AlarmKind::kCritical)
    return event + device + " " + c.text + " (" + c.name + ", point " + std::to_string(c.point) +
           ") " + AlarmKindName(c.kind) + (c.raised ? " > " : " <= ") +
           std::to_string(std::lround(c.limit)) + " mV";
  const bool low = c.kind == AlarmKind::kLow;
  const std::string relation = c.raised ? (low ? " < " : " > ") : (low ? " >= " : " <= ");
  return event + device + " " + c.text + " (" + c.name + ", point " + std::to_string(c.point) +
         ") " + AlarmKindName(c.kind) + " " + Volts(c.value) + relation + Volts(c.limit);
}

DeviceController::DeviceController(const HostClock& clock, EventLog& events, HistoryWriter* history,
                                   LineWriter write_line)
    : clock_(clock), events_(events), history_(history), write_line_(std::move(write_line)) {}

void DeviceController::Attach(DeviceSlot& slot) {
  by_device_[slot.device.get()] = &slot;
  by_id_[slot.settings.data_id] = &slot;
}

void DeviceController::DetachAll() {
  by_device_.clear();
  by_id_.clear();
}

DeviceSlot* DeviceController::SlotOf(const QorvVDevice& device) const {
  auto it = by_device_.find(&device);
  return it == by_device_.end() ? nullptr : it->second;
}

DeviceSlot* DeviceController::SlotById(unsigned data_id) const {
  auto it = by_id_.find(data_id);
  return it == by_id_.end() ? nullptr : it->second;
}

int DeviceController::SendData(QorvSPDevice& device, const unsigned char* data, unsigned len) {
  DeviceSlot* slot = SlotOf(device);
  if (slot == nullptr) return -1;
  slot->link.FrameSent(data, len);
  return write_line_(*slot, data, len);
}

void DeviceController::RefreshStatus(QorvSPDevice& device) {
  if (DeviceSlot* slot = SlotOf(device)) slot->link.CycleStarted(std::chrono::steady_clock::now());
}

float DeviceController::Get_SP_Value(unsigned data_id, const std::string& name) {
  DeviceRecorder* recorder = calling_ ? calling_->recorder.get() : nullptr;
  try {
    DeviceSlot* slot = SlotById(data_id);
    if (slot == nullptr)
      throw std::out_of_range("no device with data id " + std::to_string(data_id));
    const float value = slot->device->Get_Value(0, name);
    if (recorder) recorder->PeerAnswer(data_id, name, value);
    return value;
  } catch (const std::out_of_range&) {
    if (recorder) recorder->PeerAnswer(data_id, name, std::nullopt);
    throw;
  }
}

void DeviceController::SendSP(QorvVDevice& device, int, const unsigned char* data, unsigned len,
                              bool) {
  DeviceSlot* slot = SlotOf(device);
  if (slot == nullptr || data == nullptr) return;
  slot->latest.emplace(data, data + len);
  if (slot->recorder) slot->recorder->Published(*slot->latest);
  slot->latest_at = clock_.LocalTime();
  slot->link.RoundPublished(std::chrono::steady_clock::now());
  ++published_;
  CheckHealth(*slot);
}

// After the device's own checks and before its history: a health alarm that
// moves keeps the round like any other alarm.
void DeviceController::CheckHealth(DeviceSlot& slot) {
  if (slot.health_alarms.limits().empty()) return;
  const std::optional<BatteryRecord> record = DecodeRecord(*slot.latest);
  if (!record) return;
  const std::optional<StringHealth> health =
      HealthOfCells(record->cells.data(), slot.active_cells, slot.first_cell_number);
  if (!health) return;
  for (const AlarmChange& change : slot.health_alarms.Check(*health, slot.first_cell_number)) {
    slot.alarm_changed = true;
    Announce(slot, change);
  }
}

void DeviceController::SaveDeviceHistory(QorvVDevice& device, const unsigned char* data,
                                         unsigned len) {
  DeviceSlot* slot = SlotOf(device);
  if (slot == nullptr) return;
  const bool alarm_changed = slot->alarm_changed;
  slot->alarm_changed = false;
  if (history_ == nullptr || data == nullptr || len != kRecordSize) return;
  const HostInstant now = clock_.Now();
  const std::optional<std::string> reason = save_policy_.Decide(
      slot->settings.data_id, now.local, slot->settings.save_interval_minutes, alarm_changed);
  if (!reason) return;
  HistoryJob job;
  job.kind = HistoryJob::Kind::kRow;
  job.at = now;
  job.data_id = slot->settings.data_id;
  job.reason = *reason;
  job.raw.assign(data, data + len);
  // A refused row is counted lost by the writer; the next round takes its place.
  if (!history_->Add(std::move(job)) && *reason != "alarm")
    save_policy_.Dropped(slot->settings.data_id, now.local);
}

void DeviceController::CheckThreshold(QorvVDevice& device, const std::string& name,
                                      const std::string& text, const float& value, int point) {
  DeviceSlot* slot = SlotOf(device);
  if (slot == nullptr) return;
  for (const AlarmChange& change : slot->alarms.Check(name, text, value, point)) {
    slot->alarm_changed = true;
    Announce(*slot, change);
  }
}

void DeviceController::Announce(DeviceSlot& slot, const AlarmChange& change) {
  events_.Add(DescribeAlarm(slot.settings.name, change));
  const HostInstant now = clock_.Now();
  const std::string key = AlarmKey(change.name, change.point);
  if (change.raised)
    slot.alarm_since[key] = FormatInstant(now.utc, now.utc_offset_s);
  else
    slot.alarm_since.erase(key);
  if (history_ == nullptr) return;
  HistoryJob job;
  job.kind = HistoryJob::Kind::kAlarm;
  job.at = now;
  job.data_id = slot.settings.data_id;
  job.device = slot.settings.name;
  job.change = change;
  history_->Add(std::move(job));  // a refusal is counted lost and shown with the store
}

std::size_t DeviceController::TakePublished() {
  const std::size_t n = published_;
  published_ = 0;
  return n;
}

}  // namespace runner
