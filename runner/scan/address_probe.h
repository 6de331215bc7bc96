#pragma once
// One poll of one bus address: a fresh device from the plug-in, configured
// for the address, sends its cell request; the reply bytes that come back
// are handed to it until it takes a valid reply (it sends its next request),
// refuses what it got, or the line stays silent for the reply timeout. A
// device that took its cell reply is then let finish its round, so that its
// cells and string voltage can be read from it by name.

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include <json/value.h>

#include "host/qorv_spdevice.h"
#include "runner/lines/serial_port.h"
#include "runner/plugin_access/plugin_library.h"
#include "runner/scan/probe_controller.h"

namespace runner::scan {

// The line went away during the scan; what() names the port and the cause.
class ScanError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a completed round told about the string.
struct StringReading {
  int cells = 0;            // cells the device type answers for
  int cells_in_window = 0;  // of those, cells whose voltage is inside the block type's window
  float string_volts = 0.0f;
};

struct PollResult {
  bool answered = false;                 // the device took a valid cell reply
  std::vector<unsigned char> heard;      // what came back to the cell request, when not taken
  double reply_ms = 0.0;                 // from the request to that reply being taken
  std::optional<StringReading> reading;  // set when the round completed
};

class AddressProbe {
 public:
  // `config` is handed to each device's InitSetting unchanged.
  AddressProbe(const qorv::PluginLibrary& plugin, SerialPort& port,
               std::chrono::milliseconds reply_timeout, Json::Value config);

  // Polls `address` once. Throws ScanError when the line fails.
  PollResult Poll(unsigned address);

 private:
  enum class Outcome { kMovedOn, kEnded, kSilent };

  Outcome AwaitReply(QorvSPDevice& device, std::vector<unsigned char>* heard = nullptr);
  void FinishRound(QorvSPDevice& device);
  void CheckLine() const;

  const qorv::PluginLibrary& plugin_;
  SerialPort& port_;
  std::chrono::milliseconds reply_timeout_;
  std::chrono::milliseconds longest_reply_{0};  // at the line speed of the device polled
  Json::Value config_;
  std::shared_ptr<ProbeController> controller_;
};

// A device of the plug-in configured for `address` with `config`, not yet
// polled; with no controller it sends nothing. The scan reads its line speed
// and wire byte from it.
std::unique_ptr<QorvSPDevice> MakeProbeDevice(const qorv::PluginLibrary& plugin,
                                              std::weak_ptr<QorvController> controller,
                                              unsigned address, const Json::Value& config);

// Cells inside the window and the string voltage, asked of a device that
// has just completed a round; nothing when it will not answer.
std::optional<StringReading> ReadString(QorvSPDevice& device);

}  // namespace runner::scan
