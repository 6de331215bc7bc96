#pragma once
// Halvex30 with its poll state, reply buffer, decoding settings and record
// opened to the fuzz harnesses, which check invariants on them after every
// step. The device itself is unchanged.

#include "celldata/halvex30.h"

namespace halvex::fuzz {

class DeviceProbe : public Halvex30 {
 public:
  using Halvex30::addr_;
  using Halvex30::battery_adjust_;
  using Halvex30::battery_type_;
  using Halvex30::call_state_;
  using Halvex30::cell_count_;
  using Halvex30::cell_voltages_;
  using Halvex30::data_;
  using Halvex30::data_ready_;
  using Halvex30::dir_;
  using Halvex30::msg_buf;
  using Halvex30::msg_len_;
  using Halvex30::t0_;
  using Halvex30::t31_;
};

}  // namespace halvex::fuzz
