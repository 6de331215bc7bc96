#pragma once
// One call of the host into a device, as a capture sees it:
//
//   DeviceCall call(slot, controller);
//   slot.device->RefreshStatus();
//   call.Record([](DeviceRecorder& r) { r.Tick(); });
//
// With no capture of the device it does nothing. With one it holds the
// device clock still for the call and tells the recorder the time, makes
// the controller hand the call's peer answers to the recorder, and writes
// the call once Record() names it. A capture that fails is reported once in
// the event log and stopped; the host runs on.

#include <functional>
#include <optional>

#include "runner/lines/device_controller.h"
#include "runner/lines/device_recorder.h"
#include "runner/lines/device_slot.h"
#include "runner/lines/event_log.h"
#include "runner/plugin_access/device_clock.h"

namespace runner {

class DeviceCall {
 public:
  DeviceCall(DeviceSlot& slot, DeviceController& controller, EventLog& events);
  ~DeviceCall();
  DeviceCall(const DeviceCall&) = delete;
  DeviceCall& operator=(const DeviceCall&) = delete;

  void Record(const std::function<void(DeviceRecorder&)>& step);

 private:
  void Guard(const std::function<void(DeviceRecorder&)>& step);

  DeviceSlot& slot_;
  DeviceController& controller_;
  EventLog& events_;
  std::optional<plugin_access::DeviceClockPause> pause_;
};

}  // namespace runner
