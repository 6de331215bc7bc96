#include "celldata/halvex30.h"

#include "battery/poll_state.h"
#include "battery/wire.h"

namespace {

constexpr std::int32_t kCells = 30;
// This monitor applies its second trim to the 29th reading on the wire, not
// to its last one.
constexpr int kT31Position = 28;

}  // namespace

Halvex30::Halvex30() {
  device_type_ = "halvex_30";
  cell_count_ = kCells;
}

Halvex30::~Halvex30() = default;

// < ED aa [r0 hi lo] ... [r29 hi lo] [r30 hi lo] [r31 hi lo] ss
//   0  1   2  3          60 61        62 63        64 65       66
//          cells 1..30 (dir_ 0)       unused: counted only in the checksum
// The second trim (t31) goes to r28, the 29th reading on the wire.
int Halvex30::ProcessBatteryVoltage() {
  if (!halvex::wire::ReplyComplete(msg_len_, halvex::wire::kCellReplyLength)) return 1;
  // One reply is consumed; bytes behind it stay counted until the next
  // request empties the buffer.
  msg_len_ -= halvex::wire::kCellReplyLength;
  if (CheckCellReply() != halvex::wire::ReplyCheck::kGood) {
    call_state_ = halvex::poll::kIdle;  // the cycle is abandoned; the next tick starts over
    return 0;
  }
  DecodeCellReadings(kCells, kT31Position);
  CallGroupVoltage();
  return 1;
}
