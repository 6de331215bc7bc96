#include "battery/battery.h"

#include <cstring>
#include <stdexcept>

#include "battery/local_clock.h"
#include "battery/poll_state.h"
#include "battery/query_errors.h"
#include "battery/reassembly.h"
#include "battery/wire.h"
#include "host/device_contract.h"

namespace {

using halvex::poll::kAwaitCells;
using halvex::poll::kAwaitCurrent;
using halvex::poll::kAwaitGroupVoltage;
using halvex::poll::kAwaitTemperature;
using halvex::poll::kIdle;

constexpr int kIoControlSaveInterval = qorv::kHistoryIntervalControl;
constexpr std::int32_t kGroupVoltageHundredths = 2;  // "version" 2

// The current sensor reports 0.1 count units on a 0..5000 scale, 2500 = 0 A,
// 100 A full scale either way.
float SensorCurrent(std::uint16_t reading) {
  return ((static_cast<float>(reading) / 10.0f) / 125.0f - 2.0f) * 50.0f;
}

}  // namespace

Battery::Battery() { baud_rate_ = 19200; }

Battery::~Battery() = default;

float Battery::Get_Value(unsigned, const std::string& name) const {
  if (name == "group_voltage") return group_voltage_;
  if (name == "group_current") return group_current_;
  if (name == "temperature") return temperature_;
  throw std::out_of_range(halvex::kNotSupported);
}

int Battery::DeviceIoControl(int code, const void* in, int in_len, void*, int, int&) {
  if (code != kIoControlSaveInterval) return 0;
  if (in == nullptr || in_len < 2) return -1;
  qorv::HistoryIntervalMinutes minutes;  // the caller's own number, at any alignment
  std::memcpy(&minutes, in, sizeof minutes);
  save_interval_ = minutes == 0 ? kDefaultSaveInterval : static_cast<std::int32_t>(minutes) * 60;
  return 0;
}

unsigned char Battery::GetMMCheckSum(unsigned char* data, int len) {
  return halvex::wire::Checksum(data, len > 0 ? static_cast<std::size_t>(len) : 0);
}

void Battery::CallVoltage() { SendRequest(halvex::wire::kCellVoltages, kAwaitCells); }
void Battery::CallGroupVoltage() { SendRequest(halvex::wire::kGroupVoltage, kAwaitGroupVoltage); }
void Battery::CallCurrent() { SendRequest(halvex::wire::kCurrent, kAwaitCurrent); }
void Battery::CallTemperature() { SendRequest(halvex::wire::kTemperature, kAwaitTemperature); }

void Battery::SendRequest(unsigned char command, std::int32_t state) {
  msg_len_ = 0;  // whatever is buffered belongs to an earlier exchange
  unsigned char frame[halvex::wire::kRequestLength] = {
      halvex::wire::kRequestPreamble, halvex::wire::kRequestPreamble, addr_, command, 0};
  frame[4] = GetMMCheckSum(frame + 2, 2);
  QorvSPDevice::SendData(frame, sizeof frame);
  call_state_ = state;
  update_time_ = halvex::LocalNow();
}

void Battery::ResendCurrentRequest() {
  switch (call_state_) {
    case kAwaitCells: CallVoltage(); break;
    case kAwaitGroupVoltage: CallGroupVoltage(); break;
    case kAwaitCurrent: CallCurrent(); break;
    case kAwaitTemperature: CallTemperature(); break;
    default: break;
  }
}

int Battery::RefreshStatus() {
  if (call_state_ != kIdle) {
    const std::int32_t resends = retry_count_;
    retry_count_ = resends + 1;
    if (resends < kResendBudget) {
      ResendCurrentRequest();
      return 1;
    }
  }
  retry_count_ = 0;
  QorvSPDevice::RefreshStatus();
  CallVoltage();
  return 1;
}

int Battery::process(unsigned char* data, unsigned len) {
  update_time_ = halvex::LocalNow();
  if (halvex::wire::GatherChunk(msg_buf, msg_len_, data, len) ==
      halvex::wire::Gathered::kOverflow) {
    call_state_ = kIdle;
    return 0;
  }
  switch (call_state_) {
    case kIdle: return 0;  // stray bytes wait for the next request to discard them
    case kAwaitCells: return ProcessBatteryVoltage();
    case kAwaitGroupVoltage:
    case kAwaitCurrent:
    case kAwaitTemperature: return ProcessScalarReply();
    default: call_state_ = kIdle; return 0;
  }
}

// < ED aa hh ll ss   start, address, big-endian reading, checksum over aa hh ll
int Battery::ProcessScalarReply() {
  // Serial reads often split a 5-byte reply; wait for the rest. The next
  // request (a re-send on the next tick) discards a reply that never completes.
  if (!halvex::wire::ReplyComplete(msg_len_, halvex::wire::kScalarReplyLength)) return 1;
  msg_len_ = 0;  // consumed whatever the outcome; bytes after the fifth are dropped
  if (halvex::wire::CheckReply(msg_buf, halvex::wire::kScalarReplyLength, addr_) !=
      halvex::wire::ReplyCheck::kGood) {
    call_state_ = kIdle;
    return 0;
  }
  const std::uint16_t reading = halvex::wire::ReadBigEndian16(msg_buf + 2);
  switch (call_state_) {
    case kAwaitGroupVoltage:
      TakeGroupVoltage(reading);
      CallCurrent();
      return 1;
    case kAwaitCurrent:
      TakeCurrent(reading);
      CallTemperature();
      return 1;
    default:  // temperature: the round is complete
      TakeTemperature(reading);
      call_state_ = kIdle;
      RoundDone();
      if (!data_ready_) data_ready_ = true;
      return 0;
  }
}

void Battery::TakeGroupVoltage(std::uint16_t reading) {
  const float divisor = version_ == kGroupVoltageHundredths ? 100.0f : 10.0f;
  float volts = static_cast<float>(reading) / divisor;
  volts = volts * group_a_;
  volts = volts + group_b_;
  group_voltage_ = volts;
  group_voltage_valid_ = true;
  // Strings split over several monitors: add the peers' own (already
  // corrected) voltages. A missing peer makes the sum meaningless.
  for (std::uint32_t peer : group_voltage_ids_) {
    try {
      group_voltage_ = Get_SP_Value(peer, "group_voltage") + group_voltage_;
    } catch (const std::out_of_range&) {
      group_voltage_ = 0.0f;
      group_voltage_valid_ = false;
      break;
    }
  }
}

void Battery::TakeCurrent(std::uint16_t reading) {
  if (current_ratio_ != 0) {
    group_current_ = SensorCurrent(reading);
  } else if (r_data_id_ != 0 && !r_current_field_.empty()) {
    // Another device measures the string current; the reply only has to be valid.
    try {
      group_current_ = Get_SP_Value(r_data_id_, r_current_field_);
    } catch (const std::out_of_range&) {
      // keep the last known current
    }
  } else {
    group_current_ = static_cast<float>(reading) / 10.0f;
  }
}

void Battery::TakeTemperature(std::uint16_t reading) {
  // 0 °C and anything above 100 °C are sensor faults, not temperatures.
  const float celsius = static_cast<float>(reading) / 100.0f;
  if (celsius > 0.0f && celsius <= 100.0f) temperature_ = celsius;
}
