#pragma once
// The host side's view of a device's data state: the protected members of
// the device base that the device sets as its rounds go (whether its values
// were ever filled, whether its last round changed something, its state
// code). The host reads them here, the way it reads the line settings.

#include <cstdint>

#include "host/qorv_vdevice.h"

namespace plugin_access {

struct DeviceMembers {
  bool data_ready = false;
  bool data_changed = false;
  std::int16_t device_state = 0;

  bool operator==(const DeviceMembers& o) const {
    return data_ready == o.data_ready && data_changed == o.data_changed &&
           device_state == o.device_state;
  }
  bool operator!=(const DeviceMembers& o) const { return !(*this == o); }
};

DeviceMembers MembersOf(const QorvVDevice& device);

}  // namespace plugin_access
