#pragma once
// The host side's view of a serial device's line settings. The bus address
// byte and the baud rate are protected members of the serial base that the
// device itself sets (Init, InitSetting); the host reads them here, in this
// one place, and nowhere else.

#include "host/qorv_spdevice.h"

namespace plugin_access {

// Bus address byte the device sends and expects on the wire.
unsigned char BusAddress(const QorvSPDevice& device);
// Speed the device wants its port opened at, in bit/s.
int BaudRate(const QorvSPDevice& device);

}  // namespace plugin_access
