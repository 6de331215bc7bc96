#include "runner/plugin_access/serial_settings.h"

#include <cstdint>

namespace plugin_access {
namespace {

// A class derived from the serial base may name its protected members; the
// pointers to member it hands out then read them from any device. Nothing
// of this class is ever created.
class SerialBaseMembers : public QorvSPDevice {
 public:
  static constexpr unsigned char QorvSPDevice::*kAddress = &SerialBaseMembers::addr_;
  static constexpr std::int32_t QorvSPDevice::*kBaudRate = &SerialBaseMembers::baud_rate_;
};

}  // namespace

unsigned char BusAddress(const QorvSPDevice& device) { return device.*SerialBaseMembers::kAddress; }

int BaudRate(const QorvSPDevice& device) { return device.*SerialBaseMembers::kBaudRate; }

}  // namespace plugin_access
