#pragma once
// The host framework declarations host-abi-probe reads: this tree's host/.
// An integrator points HOST_ABI_PROBE_HEADERS at the vendor's instead.
#include "host/provider.h"
#include "host/qorv_spdevice.h"
#include "host/qorv_vdevice.h"
#include "host/rule_value.h"
#include "host/ttime.h"
#include "host/v_device_interface.h"
