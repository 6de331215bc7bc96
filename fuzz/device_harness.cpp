#include "fuzz/device_harness.h"

#include <algorithm>
#include <cstring>
#include <regex>
#include <stdexcept>

#include "battery/query_errors.h"
#include "battery/wire.h"

namespace halvex::fuzz {
namespace {

namespace wire = halvex::wire;
using runner::recording::HostCall;

constexpr int kCells = 30;  // a Halvex30 string
constexpr int kRecordSize = 152;
constexpr int kDataTypeCode = 5013;
constexpr std::size_t kCellsOffset = 4;  // battery_value[32] in the record image

// The monitor's checksum, computed here on its own so that the device's
// verdict on a reply is checked, not repeated.
std::uint8_t SumModulo254(const std::uint8_t* bytes, std::size_t count) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>((sum & 0xFF) % 254);
}

std::uint32_t Bits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float ImageFloat(const std::vector<std::uint8_t>& image, std::size_t offset) {
  float value;
  std::memcpy(&value, image.data() + offset, sizeof value);
  return value;
}

// Cell readings by block type: 6 V blocks in millivolts, kept from 4.5 to
// 7.5 V; others in hundredths, kept from 9 to 15 V.
struct CellScale {
  float divisor, low, high;
};
CellScale ScaleOf(const DeviceProbe& d) {
  return d.battery_type_ == 6 ? CellScale{1000.0f, 4.5f, 7.5f} : CellScale{100.0f, 9.0f, 15.0f};
}

// What one reading of the cell reply must become, by the block type and the
// trims the device holds: trim t0 on wire position 0, t31 on 28.
float ExpectedCell(const DeviceProbe& d, int position, std::uint16_t reading) {
  const CellScale scale = ScaleOf(d);
  float volts = static_cast<float>(reading) / scale.divisor;
  volts = volts + d.battery_adjust_;
  if (position == 0) {
    volts = volts + d.t0_;
  } else if (position == 28) {
    volts = volts + d.t31_;
  }
  return volts >= scale.low && volts <= scale.high ? volts : 0.0f;
}

// A cell holds a voltage its block can have, or 0.0 for "no reading".
bool Plausible(const DeviceProbe& d, float volts) {
  const CellScale scale = ScaleOf(d);
  return volts == 0.0f || (volts >= scale.low && volts <= scale.high);
}

std::string Hex(const std::vector<std::uint8_t>& bytes) { return runner::recording::Hex(bytes); }

}  // namespace

int OracleCell(const std::string& name) {
  static const std::regex pattern("battery_(\\d+)_value");
  std::smatch match;
  if (!std::regex_search(name, match, pattern)) return -1;
  std::string digits = match[1].str();
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
  if (digits.size() > 2) return -1;
  const int cell = std::stoi(digits);
  return cell < kCells ? cell : -1;
}

DeviceHarness::DeviceHarness()
    : host_(std::make_shared<runner::recording::RecordingController>()),
      device_(std::make_unique<DeviceProbe>()) {
  Json::Value host_setting;
  host_setting["address"] = kHarnessAddress;
  device_->Init(host_, kHarnessDataId, host_setting);
}

void DeviceHarness::Configure(const Json::Value& config) { device_->InitSetting(config); }

bool DeviceHarness::Fail(const std::string& what) {
  if (violation_.empty()) violation_ = what;
  return false;
}

bool DeviceHarness::Guard(const char* step, const std::function<void()>& call) {
  try {
    call();
    return true;
  } catch (const std::exception& e) {
    return Fail(std::string("an exception left ") + step + ": " + e.what());
  } catch (...) {
    return Fail(std::string("an unknown exception left ") + step);
  }
}

// The gathering rule, kept on the side: a chunk that would take the buffer
// past 80 bytes empties it; into an empty buffer a reply starts at the first
// start byte; otherwise the chunk is appended as it is.
void DeviceHarness::Gather(const std::vector<std::uint8_t>& chunk) {
  if (gathered_.size() + chunk.size() > wire::kReplyBufferLimit) {
    gathered_.clear();
  } else if (!gathered_.empty()) {
    gathered_.insert(gathered_.end(), chunk.begin(), chunk.end());
  } else {
    const auto start = std::find(chunk.begin(), chunk.end(), wire::kReplyStart);
    gathered_.assign(start, chunk.end());
  }
}

bool DeviceHarness::Feed(const std::vector<std::uint8_t>& chunk) {
  if (!ok()) return false;
  DeviceProbe& d = *device_;
  const std::int32_t state_before = d.call_state_;
  const std::size_t calls_before = host_->calls.size();
  Gather(chunk);
  std::vector<std::uint8_t> copy = chunk;  // the device may scribble on what it is given
  int result = 0;
  if (!Guard("process",
             [&] { result = d.process(copy.data(), static_cast<unsigned>(copy.size())); }))
    return false;
  if (result != 0 && result != 1) return Fail("process returned " + std::to_string(result));
  if (state_before == 1 && !CheckCellVerdict(SentSince(calls_before, wire::kGroupVoltage)))
    return false;
  return Check();
}

bool DeviceHarness::CheckCellVerdict(bool accepted) {
  const DeviceProbe& d = *device_;
  if (gathered_.size() < wire::kCellReplyLength) {
    if (accepted)
      return Fail("cell reply taken with only " + std::to_string(gathered_.size()) + " bytes");
    return true;
  }
  const bool good = gathered_[0] == wire::kReplyStart && gathered_[1] == d.addr_ &&
                    SumModulo254(gathered_.data() + 1, wire::kCellReplyLength - 2) ==
                        gathered_[wire::kCellReplyLength - 1];
  const std::vector<std::uint8_t> frame(gathered_.begin(),
                                        gathered_.begin() + wire::kCellReplyLength);
  if (accepted && !good)
    return Fail("cell reply taken although it fails its checks: " + Hex(frame));
  if (!accepted && good) return Fail("good cell reply refused: " + Hex(frame));
  if (accepted) DeliverFrame(frame);
  return ok();
}

void DeviceHarness::DeliverFrame(const std::vector<std::uint8_t>& frame) {
  const DeviceProbe& d = *device_;
  for (int position = 0; position < kCells; ++position) {
    const std::uint16_t reading = wire::ReadBigEndian16(frame.data() + 2 + 2 * position);
    const int cell = d.dir_ != 0 ? kCells - 1 - position : position;
    const float expected = ExpectedCell(d, position, reading);
    delivered_[cell].insert(Bits(expected));
    if (!Plausible(d, d.cell_voltages_[cell])) {
      Fail("cell " + std::to_string(cell) + " holds " + std::to_string(d.cell_voltages_[cell]) +
           ", outside the window of its block type: " + Hex(frame));
      return;
    }
    if (Bits(d.cell_voltages_[cell]) != Bits(expected)) {
      Fail("cell " + std::to_string(cell) + " decoded as " +
           std::to_string(d.cell_voltages_[cell]) + ", the reply carries " +
           std::to_string(expected) + ": " + Hex(frame));
      return;
    }
  }
}

bool DeviceHarness::Tick() {
  if (!ok()) return false;
  int result = 0;
  if (!Guard("RefreshStatus", [&] { result = device_->RefreshStatus(); })) return false;
  if (result != 1) return Fail("RefreshStatus returned " + std::to_string(result));
  return Check();
}

bool DeviceHarness::Query(const std::string& name) {
  if (!ok()) return false;
  float value = 0.0f;
  try {
    value = device_->Get_Value(0, name);
  } catch (const std::out_of_range& e) {
    const std::string text = e.what();
    if (text != kDataNotReady && text != kDataTimedOut && text != kNotSupported)
      return Fail("query " + name + " failed with an unknown text: " + text);
    return Check();
  } catch (const std::exception& e) {
    return Fail("query " + name + " threw " + e.what());
  }
  const int cell = OracleCell(name);
  if (cell < 0 && name != "group_voltage" && name != "group_current" && name != "temperature")
    return Fail("query " + name + " answered although it names no value of this device");
  if (cell >= 0 && !Delivered(cell, value))
    return Fail("query " + name + " returned " + std::to_string(value) +
                ", which no accepted reply or cache delivered to cell " + std::to_string(cell));
  return Check();
}

bool DeviceHarness::IoControl(int code, const void* in, int in_len) {
  if (!ok()) return false;
  int out_size = 0;
  return Guard("DeviceIoControl",
               [&] { device_->DeviceIoControl(code, in, in_len, nullptr, 0, out_size); }) &&
         Check();
}

bool DeviceHarness::LoadCache(const std::uint8_t* image, int len) {
  if (!ok()) return false;
  DeviceProbe& d = *device_;
  Battery32_Data_t before;
  std::memcpy(&before, &d.data_, sizeof before);
  bool taken = false;
  if (!Guard("LoadFromCache", [&] { taken = d.LoadFromCache(image, len); })) return false;
  const bool well_formed = image != nullptr && len == kRecordSize;
  if (taken != well_formed)
    return Fail(std::string("cache image of ") + std::to_string(len) + " bytes" +
                (image == nullptr ? " (null)" : "") + (taken ? " taken" : " refused"));
  if (!taken) {
    if (std::memcmp(&before, &d.data_, sizeof before) != 0)
      return Fail("a refused cache image changed the record");
    return Check();
  }
  if (std::memcmp(image, &d.data_, kRecordSize) != 0)
    return Fail("a cache image was not taken byte for byte");
  for (int cell = 0; cell < kCells; ++cell)
    delivered_[cell].insert(Bits(d.data_.battery_value[cell]));
  cache_tail_ = {Bits(d.data_.battery_value[30]), Bits(d.data_.battery_value[31])};
  return Check();
}

bool DeviceHarness::Check() {
  if (!ok()) return false;
  return CheckBuffer() && CheckCells() && CheckNewCalls();
}

bool DeviceHarness::CheckBuffer() {
  const DeviceProbe& d = *device_;
  if (d.msg_len_ > wire::kReplyBufferLimit)
    return Fail("msg_len_ is " + std::to_string(d.msg_len_) + ", past the 80-byte limit");
  if (d.call_state_ < 0 || d.call_state_ > 4)
    return Fail("call_state_ is " + std::to_string(d.call_state_) + ", outside 0..4");
  // Examining a reply consumes it from the front, so the device holds a
  // prefix of what was gathered.
  if (d.msg_len_ > gathered_.size() ||
      (d.msg_len_ > 0 && std::memcmp(d.msg_buf, gathered_.data(), d.msg_len_) != 0))
    return Fail("reply buffer holds " + std::to_string(d.msg_len_) +
                " bytes that are not the start of the bytes gathered: " + Hex(gathered_));
  gathered_.resize(d.msg_len_);
  return true;
}

bool DeviceHarness::CheckCells() {
  const DeviceProbe& d = *device_;
  if (d.cell_count_ != kCells) return Fail("cell_count_ is " + std::to_string(d.cell_count_));
  for (int cell = kCells; cell < 32; ++cell) {
    if (Bits(d.cell_voltages_[cell]) != 0)
      return Fail("live cell " + std::to_string(cell) + " is " +
                  std::to_string(d.cell_voltages_[cell]));
    const std::uint32_t held = Bits(d.data_.battery_value[cell]);
    if (held != 0 && held != cache_tail_[cell - kCells])
      return Fail("record cell " + std::to_string(cell) + " is " +
                  std::to_string(d.data_.battery_value[cell]));
  }
  return true;
}

bool DeviceHarness::CheckNewCalls() {
  const auto& calls = host_->calls;
  const std::vector<std::uint8_t>* published = nullptr;
  for (; checked_calls_ < calls.size(); ++checked_calls_) {
    const HostCall& call = calls[checked_calls_];
    switch (call.kind) {
      case HostCall::Kind::kSendData:
        if (!CheckRequest(call.bytes)) return false;
        break;
      case HostCall::Kind::kSendSP:
        if (call.number != kDataTypeCode)
          return Fail("record published under type code " + std::to_string(call.number));
        if (!CheckRecordImage("published", call.bytes)) return false;
        published = &call.bytes;
        break;
      case HostCall::Kind::kSaveDeviceHistory:
        if (!CheckRecordImage("handed to history", call.bytes)) return false;
        if (published != nullptr && *published != call.bytes)
          return Fail("the round's published record differs from the one handed to history");
        ++rounds_;
        cache_tail_ = {0, 0};  // the round refreshed every slot of the record
        break;
      default: break;
    }
  }
  return true;
}

bool DeviceHarness::CheckRequest(const std::vector<std::uint8_t>& frame) {
  const DeviceProbe& d = *device_;
  const bool good = frame.size() == wire::kRequestLength && frame[0] == wire::kRequestPreamble &&
                    frame[1] == wire::kRequestPreamble && frame[2] == d.addr_ &&
                    frame[3] >= wire::kCellVoltages && frame[3] <= wire::kTemperature &&
                    frame[4] == SumModulo254(frame.data() + 2, 2);
  return good || Fail("malformed request " + Hex(frame));
}

bool DeviceHarness::CheckRecordImage(const char* what, const std::vector<std::uint8_t>& image) {
  if (image.size() != kRecordSize)
    return Fail(std::string("record ") + what + " with " + std::to_string(image.size()) + " bytes");
  for (int cell = 0; cell < 32; ++cell) {
    const float value = ImageFloat(image, kCellsOffset + 4 * cell);
    const bool fine = cell < kCells ? Delivered(cell, value) : Bits(value) == 0;
    if (!fine)
      return Fail(std::string("record ") + what + " holds " + std::to_string(value) + " in cell " +
                  std::to_string(cell) + ", which no accepted reply or cache delivered");
  }
  return true;
}

bool DeviceHarness::Delivered(int cell, float value) const {
  return delivered_[cell].count(Bits(value)) != 0;
}

bool DeviceHarness::SentSince(std::size_t first_call, std::uint8_t command) const {
  const auto& calls = host_->calls;
  for (std::size_t i = first_call; i < calls.size(); ++i)
    if (calls[i].kind == HostCall::Kind::kSendData && calls[i].bytes.size() > 3 &&
        calls[i].bytes[3] == command)
      return true;
  return false;
}

}  // namespace halvex::fuzz
