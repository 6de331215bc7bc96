#pragma once
// The host side of every device operation: the reference host's
// QorvController. Devices call it from inside RefreshStatus and process,
// on the host's one loop thread:
//
//   SendData              the device's frame onto its line (and it takes the line)
//   RefreshStatus         a cycle starts: the round timer starts
//   Get_SP_Value          a peer's value, by data id, through its Get_Value
//   SendSP                the round's record: its RoundResult, kept as the device's latest
//   CheckThreshold        the value against the site's limits: alarms
//   SaveDeviceHistory     the record, queued as a history row when the save policy says so

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "host/qorv_controller.h"
#include "runner/history/history_writer.h"
#include "runner/history/save_policy.h"
#include "runner/lines/device_slot.h"
#include "runner/lines/event_log.h"
#include "runner/time/host_clock.h"

namespace runner {

class DeviceController : public QorvController {
 public:
  // Puts a frame on the slot's line; the count written, or -1 when the line
  // is down.
  using LineWriter = std::function<int(DeviceSlot&, const unsigned char*, unsigned)>;

  // `history` may be null: nothing is kept.
  DeviceController(const HostClock& clock, EventLog& events, HistoryWriter* history,
                   LineWriter write_line);

  // Makes a configured device known by its object and its data id.
  void Attach(DeviceSlot& slot);
  // Forgets a device taken out of the site.
  void Detach(const DeviceSlot& slot);
  void DetachAll();
  // Puts the slot's settings' limits in force: its alarms are cleared (each
  // told, logged and published as at any clear) and checked anew against
  // the new limits from its next round on.
  void SetLimits(DeviceSlot& slot);

  DeviceSlot* SlotOf(const QorvVDevice& device) const;
  DeviceSlot* SlotById(unsigned data_id) const;
  // The device the host is calling into (null: none), whose capture is
  // told the peer answers it gets.
  void CallingInto(DeviceSlot* slot) { calling_ = slot; }

  // --- QorvController ---
  int SendData(QorvSPDevice& device, const unsigned char* data, unsigned len) override;
  void RefreshStatus(QorvSPDevice& device) override;
  float Get_SP_Value(unsigned data_id, const std::string& name) override;
  void SendSP(QorvVDevice& device, int type_code, const unsigned char* data, unsigned len,
              bool flag) override;
  void SaveDeviceHistory(QorvVDevice& device, const unsigned char* data, unsigned len) override;
  void CheckThreshold(QorvVDevice& device, const std::string& name, const std::string& text,
                      const float& value, int point) override;

  // Called with every round, once the device has finished it (its history
  // handed over): what the publishers read.
  using RoundSink = std::function<void(const RoundResult&)>;
  void OnRound(RoundSink sink) { on_round_ = std::move(sink); }

  // Rounds published since the last call, for the round report.
  std::size_t TakePublished();

 private:
  void Announce(DeviceSlot& slot, const AlarmChange& change);
  void CheckHealth(DeviceSlot& slot, const RoundResult& round);
  void FinishRound(DeviceSlot& slot);

  const HostClock& clock_;
  EventLog& events_;
  HistoryWriter* history_;
  LineWriter write_line_;
  SavePolicy save_policy_;
  std::map<const QorvVDevice*, DeviceSlot*> by_device_;
  std::map<unsigned, DeviceSlot*> by_id_;
  DeviceSlot* calling_ = nullptr;
  std::size_t published_ = 0;
  RoundSink on_round_;
};

}  // namespace runner
