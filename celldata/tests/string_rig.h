#pragma once
// Test rig for the cell devices: a device on a recording host, and monitor
// replies built by hand from the wire format (not with the device's code).

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

#include "celldata/halvex30.h"
#include "runner/recording/recording_controller.h"

namespace celltest {

using Bytes = std::vector<unsigned char>;
using Readings = std::vector<std::uint16_t>;
using runner::recording::HostCall;
using runner::recording::RecordingController;

constexpr unsigned char kMonitor = 0x81;  // configured address 1, plus 0x80

// ED aa [hh ll]... ss: the checksum is the 8-bit sum of address and payload, mod 254.
inline Bytes Reply(const Readings& readings, unsigned char address = kMonitor) {
  Bytes frame{0xED, address};
  unsigned sum = address;
  for (std::uint16_t r : readings) {
    frame.push_back(static_cast<unsigned char>(r >> 8));
    frame.push_back(static_cast<unsigned char>(r & 0xFF));
    sum += (r >> 8) + (r & 0xFF);
  }
  frame.push_back(static_cast<unsigned char>((sum % 256) % 254));
  return frame;
}
// The 67-byte cell reply; readings beyond those given are 0.
inline Bytes CellReply(Readings readings, unsigned char address = kMonitor) {
  readings.resize(32);
  return Reply(readings, address);
}
inline Readings Same(std::size_t n, std::uint16_t r) { return Readings(n, r); }

// Little-endian float at `offset` of a record image.
inline float F32(const Bytes& image, std::size_t offset) {
  std::uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) bits = bits << 8 | image.at(offset + i);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Opens the device's protected state to the tests.
template <class Device>
class Probe : public Device {
 public:
  using Device::active_batteries_;
  using Device::ao_names_;
  using Device::ao_values_;
  using Device::b_mode_;
  using Device::call_state_;
  using Device::cell_voltages_;
  using Device::data_;
  using Device::data_changed_;
  using Device::msg_len_;
  using Device::rule_values_;
  using Device::signal_ids_;
  using Device::signal_names_;
  using Device::threshold_levels_;
  using Device::threshold_values_;
  using Device::update_time_;
};

template <class Device = Halvex30>
struct Rig {
  explicit Rig(const Json::Value& app = Json::objectValue, unsigned id = 7) {
    Json::Value address;
    address["address"] = 1;
    dev.Init(host, id, address);
    Json::Value config;
    config["appSetting"] = app;
    dev.InitSetting(config);
  }
  int Feed(Bytes bytes) { return dev.process(bytes.data(), static_cast<unsigned>(bytes.size())); }
  // One complete poll cycle; group reading 500 is 50.0 V, 123 is 12.3 A, 2600 is 26.0 °C.
  void Round(const Readings& cells, std::uint16_t group = 500, std::uint16_t current = 123,
             std::uint16_t temperature = 2600) {
    dev.RefreshStatus();
    Feed(CellReply(cells));
    Feed(Reply({group}));
    Feed(Reply({current}));
    Feed(Reply({temperature}));
  }
  Bytes Published() const { return host->CallsOf(HostCall::Kind::kSendSP).back().bytes; }

  std::shared_ptr<RecordingController> host = std::make_shared<RecordingController>();
  Probe<Device> dev;
};

}  // namespace celltest
