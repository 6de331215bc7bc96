#include "celldata/halvex30.h"

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

int Halvex30::ProcessBatteryVoltage() {
  if (msg_len_ < halvex::wire::kCellReplyLength) return 1;
  // One reply is consumed; bytes behind it stay counted until the next
  // request empties the buffer.
  msg_len_ -= halvex::wire::kCellReplyLength;
  if (CheckCellFrame() != CellFrame::kGood) {
    call_state_ = 0;  // the cycle is abandoned; the next tick starts over
    return 0;
  }
  DecodeCellReadings(kCells, kT31Position);
  CallGroupVoltage();
  return 1;
}
