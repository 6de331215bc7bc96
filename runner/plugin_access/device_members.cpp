#include "runner/plugin_access/device_members.h"

namespace plugin_access {
namespace {

// As for the serial base's settings: a derived class names the protected
// members, and its pointers to member read them from any device. Never
// created.
class DeviceBaseMembers : public QorvVDevice {
 public:
  static constexpr bool QorvVDevice::*kDataReady = &DeviceBaseMembers::data_ready_;
  static constexpr bool QorvVDevice::*kDataChanged = &DeviceBaseMembers::data_changed_;
  static constexpr std::int16_t QorvVDevice::*kDeviceState = &DeviceBaseMembers::device_state_;
};

}  // namespace

DeviceMembers MembersOf(const QorvVDevice& device) {
  DeviceMembers m;
  m.data_ready = device.*DeviceBaseMembers::kDataReady;
  m.data_changed = device.*DeviceBaseMembers::kDataChanged;
  m.device_state = device.*DeviceBaseMembers::kDeviceState;
  return m;
}

}  // namespace plugin_access
