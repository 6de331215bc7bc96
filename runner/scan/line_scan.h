#pragma once
// Finding the monitors on a line: every configurable bus address in a range
// is polled up to `tries` times, until it answers, one exchange at a time,
// each by a device the plug-in makes for that address. An address counts as a monitor only when
// a device took a valid cell reply from it; a noisy line, a wrong address
// or a damaged frame is refused by the device and finds nothing.
//
//   qorv::PluginLibrary plugin("halvex_30.so");
//   ScanReport report = ScanLine(plugin, "/dev/ttyUSB0", ScanSettings{});   // throws ScanError

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "runner/plugin_access/plugin_library.h"
#include "runner/scan/address_probe.h"

namespace runner::scan {

// Configurable bus addresses; the device puts address + 0x80 on the wire.
constexpr unsigned kFirstAddress = 0;
constexpr unsigned kLastAddress = 127;

// False for the address whose wire byte is the request preamble (126,
// 0xFE): a monitor cannot be told apart from the start of a request there.
bool IsPollable(unsigned address);

struct ScanSettings {
  unsigned from = kFirstAddress;
  unsigned to = kLastAddress;
  unsigned tries = 3;  // polls of an address at most; the first answer ends them
  // Silence after which an address counts as not answering. 100 ms keeps a
  // scan of all 127 addresses at 19200 bit/s under 13 s.
  std::chrono::milliseconds reply_timeout{100};
  Json::Value device_config{Json::objectValue};  // each device's InitSetting
};

struct FoundMonitor {
  unsigned address = 0;
  std::uint8_t wire_byte = 0;  // as the device configured for the address sends it
  unsigned answers = 0;        // polls in which it gave a valid cell reply
  unsigned polls = 0;
  double reply_ms = 0.0;                 // mean over the answered polls
  std::optional<StringReading> reading;  // the last completed round

  double AnswerRate() const { return polls == 0 ? 0.0 : static_cast<double>(answers) / polls; }
};

struct ScanReport {
  std::string port;
  ScanSettings settings;
  unsigned addresses_polled = 0;
  std::vector<FoundMonitor> found;  // ascending by address
  // Replies of an address that its device refused, and why: a wiring or
  // termination fault, or two monitors on one address.
  std::map<unsigned, std::vector<std::string>> refused;
  // Replies taken by the address byte they carry while another address was
  // polled: a monitor slower than the reply timeout.
  std::map<unsigned, unsigned> heard_late;
  std::chrono::milliseconds took{0};
};

// Polls the addresses of `settings` on the serial device at `port_path`,
// opened exclusively and raw 8N1 at the device's speed. `on_address` (may
// be empty) is told each address before it is polled. Throws ScanError
// naming the port when it cannot be opened or fails during the scan.
ScanReport ScanLine(const qorv::PluginLibrary& plugin, const std::string& port_path,
                    const ScanSettings& settings,
                    const std::function<void(unsigned address)>& on_address = {});

}  // namespace runner::scan
