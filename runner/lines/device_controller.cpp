#include "runner/lines/device_controller.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "runner/alarms/alarm_text.h"
#include "runner/round/battery_record.h"
#include "runner/time/time_text.h"

namespace runner {
DeviceController::DeviceController(const HostClock& clock, EventLog& events, HistoryWriter* history,
                                   LineWriter write_line)
    : clock_(clock), events_(events), history_(history), write_line_(std::move(write_line)) {}

void DeviceController::Attach(DeviceSlot& slot) {
  by_device_[slot.device.get()] = &slot;
  by_id_[slot.settings.data_id] = &slot;
}

void DeviceController::Detach(const DeviceSlot& slot) {
  by_device_.erase(slot.device.get());
  if (SlotById(slot.settings.data_id) == &slot) by_id_.erase(slot.settings.data_id);
  if (calling_ == &slot) calling_ = nullptr;
}

void DeviceController::SetLimits(DeviceSlot& slot) {
  std::vector<ActiveAlarm> active = slot.alarms.Active();
  for (ActiveAlarm& a : slot.health_alarms.Active()) active.push_back(std::move(a));
  slot.alarms = AlarmBook(slot.settings.limits);
  slot.alarms.SetCells(slot.cells.active);
  slot.health_alarms = HealthAlarms(slot.settings.health);
  for (const ActiveAlarm& a : active)
    Announce(slot, {a.name, a.text, a.point, a.kind, false, a.value, a.limit});
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

// The round's one result: built here, once, and read by the view, the JSON
// lines and the history writer.
void DeviceController::SendSP(QorvVDevice& device, int, const unsigned char* data, unsigned len,
                              bool) {
  DeviceSlot* slot = SlotOf(device);
  if (slot == nullptr || data == nullptr) return;
  if (slot->recorder) slot->recorder->Published(std::vector<unsigned char>(data, data + len));
  slot->link.RoundPublished(std::chrono::steady_clock::now());
  ++published_;
  std::shared_ptr<RoundResult> round = MakeRoundResult(slot->settings.name, slot->settings.data_id,
                                                       clock_.Now(), data, len, slot->cells);
  if (round) {
    CheckHealth(*slot, *round);
    round->alarm_changes = std::move(slot->round_changes);
    round->link = slot->link.counters();
  }
  slot->round_changes.clear();
  slot->round_unfinished = round != nullptr;
  slot->last_round = std::move(round);
}

// After the device's own checks and before its history: a health alarm that
// moves keeps the round like any other alarm.
void DeviceController::CheckHealth(DeviceSlot& slot, const RoundResult& round) {
  if (slot.health_alarms.limits().empty() || !round.health) return;
  for (const AlarmChange& change : slot.health_alarms.Check(*round.health, slot.cells.first_number))
    Announce(slot, change);
}

void DeviceController::SaveDeviceHistory(QorvVDevice& device, const unsigned char* data,
                                         unsigned len) {
  DeviceSlot* slot = SlotOf(device);
  if (slot == nullptr) return;
  FinishRound(*slot);
  const bool alarm_changed = slot->alarm_changed;
  slot->alarm_changed = false;
  if (history_ == nullptr || data == nullptr || len != kRecordSize) return;
  // The round published just before, unless the device hands other bytes
  // to its history than it published: then those bytes are what is kept.
  std::shared_ptr<const RoundResult> round = slot->last_round;
  if (!round || round->raw.size() != len || std::memcmp(round->raw.data(), data, len) != 0)
    round = MakeRoundResult(slot->settings.name, slot->settings.data_id, clock_.Now(), data, len,
                            slot->cells);
  const HostInstant now = clock_.Now();
  const std::optional<std::string> reason = save_policy_.Decide(
      slot->settings.data_id, now.local, slot->settings.save_interval_minutes, alarm_changed);
  if (!reason) return;
  HistoryJob job;
  job.kind = HistoryJob::Kind::kRow;
  job.at = now;
  job.data_id = slot->settings.data_id;
  job.reason = *reason;
  job.round = std::move(round);
  // A refused row is counted lost by the writer; the next round takes its place.
  if (!history_->Add(std::move(job)) && *reason != "alarm")
    save_policy_.Dropped(slot->settings.data_id, now.local);
}

// The round's last call: the alarms the host's own checks moved after the
// record was published join it, and its readers get it once.
void DeviceController::FinishRound(DeviceSlot& slot) {
  if (!slot.round_unfinished || !slot.last_round) return;
  slot.round_unfinished = false;
  if (!slot.round_changes.empty()) {
    auto round = std::make_shared<RoundResult>(*slot.last_round);
    round->alarm_changes.insert(round->alarm_changes.end(), slot.round_changes.begin(),
                                slot.round_changes.end());
    slot.round_changes.clear();
    slot.last_round = std::move(round);
  }
  if (on_round_) on_round_(*slot.last_round);
}

void DeviceController::CheckThreshold(QorvVDevice& device, const std::string& name,
                                      const std::string& text, const float& value, int point) {
  DeviceSlot* slot = SlotOf(device);
  if (slot == nullptr) return;
  for (const AlarmChange& change : slot->alarms.Check(name, text, value, point))
    Announce(*slot, change);
}

void DeviceController::Announce(DeviceSlot& slot, const AlarmChange& change) {
  slot.alarm_changed = true;
  slot.round_changes.push_back(change);
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
