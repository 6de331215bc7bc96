#pragma once
// How the host headers spell what host-abi-probe reads. The probe names the
// host classes and their operations as the framework interface does (the
// plug-in imports them by those names, so they cannot differ), and reaches
// every data member through the macros below, whose spelling is the host's
// own choice.
//
// For a vendor's headers: copy this file, include the vendor's headers
// instead of host_headers.h (or set HOST_ABI_PROBE_HEADERS), map each macro
// to the vendor's member name, and build the probe with
// -DHOST_ABI_PROBE_NAMES='"path/to/the/copy.h"'. This copy maps this tree's
// host/ to itself.

#ifndef HOST_ABI_PROBE_HEADERS
#define HOST_ABI_PROBE_HEADERS "host_headers.h"
#endif
#include HOST_ABI_PROBE_HEADERS

// VDeviceInterface: the device's type string.
#define HOST_DEVICE_TYPE device_type_

// QorvVDevice: data state and the alarm tables, in declaration order.
#define HOST_UPDATE_TIME update_time_
#define HOST_DATA_READY data_ready_
#define HOST_DATA_CHANGED data_changed_
#define HOST_DEVICE_STATE device_state_
#define HOST_RULE_VALUES rule_values_
#define HOST_AO_NAMES ao_names_
#define HOST_AO_VALUES ao_values_
#define HOST_THRESHOLD_LEVELS threshold_levels_
#define HOST_THRESHOLD_VALUES threshold_values_

// QorvSPDevice: the serial line's address, reply buffer and speed.
#define HOST_ADDR addr_
#define HOST_MSG_BUF msg_buf
#define HOST_MSG_LEN msg_len_
#define HOST_BAUD_RATE baud_rate_

// rule_value: one record of a device's rule batch.
#define HOST_RULE_NAME name
#define HOST_RULE_VALUE value
#define HOST_RULE_LEVEL level
