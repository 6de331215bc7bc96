#include "fuzz/device_program.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "battery/wire.h"
#include "fuzz/byte_reader.h"
#include "fuzz/device_harness.h"
#include "runner/recording/monitor_reply.h"

namespace halvex::fuzz {
namespace {

namespace wire = halvex::wire;
using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kChunkModulus = 96;
constexpr std::uint16_t kDefaultCellReading = 1330;  // 13.3 V on a 12 V block
constexpr std::uint16_t kDefaultScalarReading = 2600;
constexpr int kIoControlSaveInterval = 100;
constexpr int kRecordSize = 152;
constexpr long kDay = 86400;

// Peers the settings refer to.
constexpr unsigned kSummedPeer = 9;
constexpr unsigned kFailingPeer = 11;
constexpr unsigned kCurrentPeer = 12;

class ProgramRunner {
 public:
  ProgramRunner(ByteReader& program, DeviceHarness& harness) : in_(program), harness_(harness) {}

  void Run() {
    while (!in_.Empty() && Step()) {
    }
  }

 private:
  bool Step() {
    switch (static_cast<Op>(in_.Byte() % kOpCount)) {
      case Op::kChunk: return harness_.Feed(in_.Take(in_.Byte() % kChunkModulus));
      case Op::kReply: return SendReply();
      case Op::kTick: return harness_.Tick();
      case Op::kQuery: return harness_.Query(QueryName());
      case Op::kIoControl: return IoControl();
      case Op::kCache: return LoadCache();
      case Op::kClock: return MoveClock();
    }
    return false;
  }

  bool SendReply() {
    const std::uint8_t shape = in_.Byte();
    const bool cells_awaited = harness_.device().call_state_ == 1;
    const std::vector<std::uint16_t> readings =
        cells_awaited != ((shape & kOtherKind) != 0) ? CellReadings() : ScalarReading();
    std::uint8_t address = harness_.device().addr_;
    if (shape & kWrongAddress) address ^= 0x40;
    Bytes frame = runner::recording::BuildReply(address, readings);
    if (shape & kCorrupt) {
      const std::size_t at = in_.Byte() % frame.size();
      const std::uint8_t flip = in_.Byte(1);
      frame[at] ^= flip != 0 ? flip : 1;
    }
    if (shape & kNoise) {
      Bytes noise = in_.Take(in_.Byte() % 8);
      frame.insert(frame.begin(), noise.begin(), noise.end());
    }
    if (shape & kTrailing) {
      Bytes tail = in_.Take(in_.Byte() % 8);
      frame.insert(frame.end(), tail.begin(), tail.end());
    }
    if (!(shape & kSplit)) return harness_.Feed(frame);
    const std::size_t cut = in_.Byte() % frame.size();
    return harness_.Feed(Bytes(frame.begin(), frame.begin() + cut)) &&
           harness_.Feed(Bytes(frame.begin() + cut, frame.end()));
  }

  std::vector<std::uint16_t> CellReadings() {
    const bool each = in_.Byte() & 1;
    std::vector<std::uint16_t> readings(wire::kCellReadings);
    const std::uint16_t common = each ? 0 : in_.U16(kDefaultCellReading);
    for (auto& r : readings) r = each ? in_.U16(kDefaultCellReading) : common;
    return readings;
  }

  std::vector<std::uint16_t> ScalarReading() { return {in_.U16(kDefaultScalarReading)}; }

  std::string QueryName() {
    switch (in_.Byte() % 8) {
      case 0: return "group_voltage";
      case 1: return "group_current";
      case 2: return "temperature";
      case 6: {
        const Bytes name = in_.Take(in_.Byte());
        return std::string(name.begin(), name.end());
      }
      case 7: return "x_battery_0" + std::to_string(in_.Byte()) + "_value_y";
      default: return "battery_" + std::to_string(in_.Byte()) + "_value";
    }
  }

  bool IoControl() {
    const std::uint8_t code = in_.Byte();
    const int in_len = in_.Byte() % 4;
    const Bytes minutes = {in_.Byte(), in_.Byte()};
    const bool null_in = in_.Byte() == 1;
    return harness_.IoControl(code == 0 ? kIoControlSaveInterval : code,
                              null_in ? nullptr : minutes.data(), in_len);
  }

  bool LoadCache() {
    const std::uint8_t length = in_.Byte();
    if (length == 12) return harness_.LoadCache(nullptr, kRecordSize);
    if (length == 13) {
      const std::uint8_t byte = 0;
      return harness_.LoadCache(&byte, -1);
    }
    Bytes image = in_.Take(kRecordSize);
    int len = length < 10 ? kRecordSize : length;
    if (length == 10) len = kRecordSize - 1;
    if (length == 11) len = kRecordSize + 1;
    // The host vouches for `len` bytes behind the pointer, whatever len is.
    image.resize(std::max(kRecordSize, len));
    return harness_.LoadCache(image.data(), len);
  }

  bool MoveClock() {
    const auto step = static_cast<std::int8_t>(in_.Byte());
    harness_.MoveClock(step == 127 ? kDay : step);
    return harness_.Check();
  }

  ByteReader& in_;
  DeviceHarness& harness_;
};

}  // namespace

ProgramWriter& ProgramWriter::Put(Op op, std::initializer_list<std::uint8_t> operands) {
  bytes_.push_back(static_cast<std::uint8_t>(op));
  bytes_.insert(bytes_.end(), operands);
  return *this;
}

ProgramWriter& ProgramWriter::Put16(std::uint16_t value) {
  bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
  bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
  return *this;
}

ProgramWriter& ProgramWriter::CellReply(const std::vector<std::uint16_t>& readings) {
  Put(Op::kReply, {0, 1});
  for (std::size_t i = 0; i < wire::kCellReadings; ++i)
    Put16(i < readings.size() ? readings[i] : kDefaultCellReading);
  return *this;
}

ProgramWriter& ProgramWriter::Chunk(const Bytes& bytes) {
  const std::size_t n = std::min<std::size_t>(bytes.size(), kChunkModulus - 1);
  Put(Op::kChunk, {static_cast<std::uint8_t>(n)});
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.begin() + n);
  return *this;
}

ProgramWriter& ProgramWriter::Query(const std::string& name) {
  const std::size_t n = std::min<std::size_t>(name.size(), 255);
  Put(Op::kQuery, {6, static_cast<std::uint8_t>(n)});
  bytes_.insert(bytes_.end(), name.begin(), name.begin() + n);
  return *this;
}

ProgramWriter& ProgramWriter::SaveInterval(std::uint16_t minutes) {
  // code 100, in_len 2, the minutes in the host's byte order, a real pointer
  std::uint8_t raw[2];
  std::memcpy(raw, &minutes, sizeof raw);
  return Put(Op::kIoControl, {0, 2, raw[0], raw[1], 0});
}

ProgramWriter& ProgramWriter::Cache(const Bytes& image) {
  Put(Op::kCache, {0});
  bytes_.insert(bytes_.end(), image.begin(),
                image.begin() + std::min<std::size_t>(image.size(), kRecordSize));
  return *this;
}

void ScriptPeers(runner::recording::RecordingController& host) {
  host.SetPeerValue(kSummedPeer, "group_voltage", 10.0f);
  host.SetPeerThrows(kFailingPeer, "group_voltage");
  host.SetPeerValue(kCurrentPeer, "dc", 3.5f);
}

Json::Value ProgramSettings(std::uint8_t settings) {
  Json::Value app(Json::objectValue);
  if (settings & kSixVolt) app["battery_type"] = 6;
  if (settings & kReversed) app["dir"] = 1;
  if (settings & kTrims) {
    app["t0"] = "0.05";
    app["t31"] = "-0.1";
  }
  if (settings & kAdjust) app["battery_adjust"] = 0.25;
  if (settings & kActiveCells) {
    for (int cell : {3, 40, -1, 29}) app["active_batteries"].append(cell);
  }
  if (settings & kPeerSum) {
    app["group_voltage"].append(kSummedPeer);
    app["group_voltage"].append(kFailingPeer);
  }
  if (settings & kBorrowCurrent) {
    app["r_data_id"] = kCurrentPeer;
    app["r_current_field"] = "dc";
  }
  if (settings & kSensorCurrent) {
    app["version"] = 2;
    app["current_ratio"] = 1;
  }
  Json::Value config(Json::objectValue);
  config["appSetting"] = app;
  return config;
}

void RunOps(DeviceHarness& harness, const std::uint8_t* ops, std::size_t size) {
  ByteReader program(ops, size);
  ProgramRunner(program, harness).Run();
}

std::string RunDeviceProgram(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return "";
  DeviceHarness harness;
  ScriptPeers(harness.host());
  harness.Configure(ProgramSettings(data[0]));
  RunOps(harness, data + 1, size - 1);
  return harness.violation();
}

}  // namespace halvex::fuzz
