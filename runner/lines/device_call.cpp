#include "runner/lines/device_call.h"

#include <stdexcept>
#include <string>

namespace runner {

DeviceCall::DeviceCall(DeviceSlot& slot, DeviceController& controller, EventLog& events)
    : slot_(slot), controller_(controller), events_(events) {
  if (!slot_.recorder) return;
  pause_.emplace();
  controller_.CallingInto(&slot_);
  Guard([this](DeviceRecorder& r) { r.Begin(pause_->Local()); });
}

DeviceCall::~DeviceCall() {
  if (pause_) controller_.CallingInto(nullptr);
}

void DeviceCall::Record(const std::function<void(DeviceRecorder&)>& step) {
  if (pause_) Guard(step);
}

void DeviceCall::Guard(const std::function<void(DeviceRecorder&)>& step) {
  if (!slot_.recorder) return;
  try {
    step(*slot_.recorder);
  } catch (const std::exception& e) {
    slot_.recorder.reset();
    events_.Add("device " + slot_.settings.name + ": capture stopped: " + e.what());
  }
}

}  // namespace runner
