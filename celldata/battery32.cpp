#include "celldata/battery32.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "battery/device_log.h"
#include "battery/local_clock.h"
#include "battery/poll_state.h"
#include "battery/query_errors.h"
#include "battery/wire.h"
#include "celldata/cell_name.h"

namespace {

namespace wire = halvex::wire;

// < ED aa [r0 hi lo] [r1 hi lo] ... [r31 hi lo] ss
//   0  1   2  3       4  5            64 65       66
// The checksum covers the address and the 64 payload bytes.
constexpr unsigned kPayloadByte = 2;

// Cell readings by block type: 6 V blocks report millivolts, 12 V blocks
// hundredths of a volt. A reading outside the block's plausible range (a
// loose sense lead, an empty slot) is held as 0.0; both ends are plausible.
struct CellScale {
  float divisor;
  float low;
  float high;
};
constexpr std::int32_t kSixVoltBlocks = 6;  // "battery_type"
constexpr CellScale kSixVoltScale{1000.0f, 4.5f, 7.5f};
constexpr CellScale kTwelveVoltScale{100.0f, 9.0f, 15.0f};

// A monitor without its own string-voltage input reports next to nothing;
// below this the string voltage is taken as the sum of its cells.
constexpr float kMeasuredStringFloor = 40.0f;
// Smallest steps that count as changed data for the host.
constexpr double kStringVoltageStep = 0.01;
constexpr double kCellVoltageStep = 0.05;

constexpr int kStringPoint = 1;  // point number of the string checks

// Queries are refused once the data is older than this.
constexpr long kFreshSeconds = 60;

}  // namespace

Battery32::Battery32() { device_type_ = "battery_32"; }

Battery32::~Battery32() = default;

int Battery32::CellCount() const { return std::clamp<std::int32_t>(cell_count_, 0, kRecordCells); }

float Battery32::Get_Value(unsigned index, const std::string& name) const {
  if (!data_ready_) throw std::out_of_range(halvex::kDataNotReady);
  // A clock set back is no reason to refuse; an age that cannot be told is.
  const auto age = halvex::LocalNow() - data_time_;
  if (age.is_special() || age.total_seconds() > kFreshSeconds)
    throw std::out_of_range(halvex::kDataTimedOut);
  int cell;
  if (halvex::FindCellNumber(name, CellCount(), cell)) return data_.battery_value[cell];
  return Battery::Get_Value(index, name);
}

bool Battery32::LoadFromCache(const unsigned char* image, int len) {
  if (image == nullptr || len != static_cast<int>(sizeof data_)) return false;
  std::memcpy(&data_, image, sizeof data_);
  group_voltage_ = data_.group_voltage;
  group_current_ = data_.group_current;
  temperature_ = halvex::RecordTemperature(data_);
  data_ready_ = true;
  update_time_ = halvex::LocalNow();
  data_time_ = update_time_;
  return true;
}

wire::ReplyCheck Battery32::CheckCellReply() const {
  return wire::CheckReply(msg_buf, wire::kCellReplyLength, addr_);
}

void Battery32::DecodeCellReadings(int readings, int t31_position) {
  const CellScale& scale = battery_type_ == kSixVoltBlocks ? kSixVoltScale : kTwelveVoltScale;
  for (int i = 0; i < readings; ++i) {
    const int cell = dir_ != 0 ? readings - 1 - i : i;
    const std::uint16_t reading = wire::ReadBigEndian16(msg_buf + kPayloadByte + 2 * i);
    float volts = static_cast<float>(reading) / scale.divisor;
    volts = volts + battery_adjust_;
    // The monitor's two calibration trims follow the wire position.
    if (i == 0) {
      volts = volts + t0_;
    } else if (i == t31_position) {
      volts = volts + t31_;
    }
    // Kept only inside the window: a trim or offset configured as "nan"
    // gives no voltage either, rather than a NaN that no alarm would see.
    cell_voltages_[cell] = volts >= scale.low && volts <= scale.high ? volts : 0.0f;
  }
}

int Battery32::ProcessBatteryVoltage() {
  if (!wire::ReplyComplete(msg_len_, wire::kCellReplyLength)) return 1;
  msg_len_ = 0;  // the reply and anything after it are consumed
  switch (CheckCellReply()) {
    case wire::ReplyCheck::kBadStart:
    case wire::ReplyCheck::kWrongAddress:
      halvex::DeviceLogLine("msg_buf[0] == 0xed && msg_buf[1] == addr_ failed");
      call_state_ = halvex::poll::kIdle;
      return 0;
    case wire::ReplyCheck::kBadChecksum:
      halvex::DeviceLogLine("Battery32 ", DataId(), " checksum failed");
      call_state_ = halvex::poll::kIdle;
      return 0;
    case wire::ReplyCheck::kGood: break;
  }
  DecodeCellReadings(kRecordCells, kRecordCells - 1);
  halvex::DeviceLogLine("Battery32 ", DataId(), " before CallGroupVoltage");
  CallGroupVoltage();
  halvex::DeviceLogLine("Battery32 ", DataId(), " after CallGroupVoltage");
  return 1;
}

void Battery32::RunCheckThreshold() {
  retry_count_ = 0;  // the round is complete
  if (group_voltage_ < kMeasuredStringFloor) {
    float sum = 0.0f;
    for (int k = 0; k < CellCount(); ++k) sum = sum + cell_voltages_[k];
    group_voltage_ = sum;
  }
  // Compared with the record before it takes this round's readings.
  if (RoundChangedData()) data_changed_ = true;
  RefreshRecord();
  CheckStringThresholds();
  CheckCellThresholds();
}

bool Battery32::RoundChangedData() const {
  const float string_step = data_.group_voltage - group_voltage_;
  if (static_cast<double>(std::fabs(string_step)) >= kStringVoltageStep) return true;
  for (int k = 0; k < CellCount(); ++k) {
    const float cell_step = data_.battery_value[k] - cell_voltages_[k];
    if (static_cast<double>(std::fabs(cell_step)) >= kCellVoltageStep) return true;
  }
  return false;
}

void Battery32::RefreshRecord() {
  for (int k = 0; k < kRecordCells; ++k) data_.battery_value[k] = cell_voltages_[k];
  data_.group_voltage = group_voltage_;
  data_.group_current = group_current_;
  halvex::SetRecordTemperature(data_, temperature_);
  data_.status = 0;
  data_.data_id = DataId();
}

void Battery32::CheckStringThresholds() {
  // A string sum that lacks a peer's share is no string voltage.
  if (group_voltage_valid_)
    CheckThreshold("group_voltage", "整组电压", group_voltage_, kStringPoint);
  CheckThreshold("group_current", "电流", group_current_, kStringPoint);
  CheckThreshold("temperature", "温度", temperature_, kStringPoint);
}

void Battery32::CheckCellThresholds() {
  if (active_batteries_.empty()) {
    for (int k = 0; k < CellCount(); ++k) CheckCell(k);
    return;
  }
  for (const std::int32_t k : active_batteries_)
    if (k >= 0 && k < CellCount()) CheckCell(k);
}

void Battery32::CheckCell(int cell) {
  // The host takes the value by reference: hand it a copy, never a record field.
  const float volts = data_.battery_value[cell];
  // The cell's number in the whole string, as shown to the user.
  const long long number = static_cast<long long>(battery_start_) + cell + 1;
  CheckThreshold(halvex::CellValueName(cell), "第" + std::to_string(number) + "节电池", volts,
                 cell + 1);
}
