#include "runner/scan/address_probe.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "runner/lines/device_slot.h"
#include "runner/plugin_access/device_cells.h"
#include "runner/plugin_access/serial_settings.h"

namespace runner::scan {
namespace {

// Bytes kept of what came back to one request: a few replies' worth.
constexpr std::size_t kMostBytesHeard = 512;

using Steady = std::chrono::steady_clock;

// The data id the probing devices carry; nothing outside the scan sees it.
constexpr unsigned kProbeDataId = 1;
// The longest reply, the cell reply: start, address, 32 two-byte readings,
// checksum. A line that never falls silent (noise, a babbling device) is
// given this long past the reply timeout, then the exchange ends.
constexpr int kLongestReplyBytes = 67;
constexpr int kBitsPerByte = 10;  // 8N1: start bit, 8 data bits, stop bit
// The device re-sends an unanswered request up to three times in a cycle.
constexpr int kResendsPerRound = 3;

std::chrono::milliseconds ReplyDuration(int baud) {
  return std::chrono::milliseconds(1 + kLongestReplyBytes * kBitsPerByte * 1000 / baud);
}

int MsUntil(Steady::time_point when) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Steady::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

AddressProbe::AddressProbe(const qorv::PluginLibrary& plugin, SerialPort& port,
                           std::chrono::milliseconds reply_timeout, Json::Value config)
    : plugin_(plugin),
      port_(port),
      reply_timeout_(reply_timeout),
      config_(std::move(config)),
      controller_(std::make_shared<ProbeController>(port)) {}

std::unique_ptr<QorvSPDevice> MakeProbeDevice(const qorv::PluginLibrary& plugin,
                                              std::weak_ptr<QorvController> controller,
                                              unsigned address, const Json::Value& config) {
  std::unique_ptr<QorvSPDevice> device = plugin.CreateDevice();
  Json::Value host_setting(Json::objectValue);
  host_setting["address"] = address;
  device->Init(std::move(controller), kProbeDataId, host_setting);
  device->InitSetting(config);
  return device;
}

PollResult AddressProbe::Poll(unsigned address) {
  controller_->Clear();
  std::unique_ptr<QorvSPDevice> device = MakeProbeDevice(plugin_, controller_, address, config_);
  longest_reply_ = ReplyDuration(plugin_access::BaudRate(*device));
  port_.DiscardInput();  // a late reply to the previous address must not reach this one
  const Steady::time_point start = Steady::now();
  device->RefreshStatus();
  CheckLine();
  PollResult result;
  if (AwaitReply(*device, &result.heard) != Outcome::kMovedOn) return result;
  result.heard.clear();
  result.reply_ms = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
  result.answered = true;
  FinishRound(*device);
  if (controller_->published()) result.reading = ReadString(*device);
  return result;
}

// Hands the device what arrives until it sends its next request (it took
// the reply), stops awaiting one (it refused the reply, or its round is
// done), or the line is silent for the reply timeout.
AddressProbe::Outcome AddressProbe::AwaitReply(QorvSPDevice& device,
                                               std::vector<unsigned char>* heard) {
  const std::size_t requests_before = controller_->requests_sent();
  Steady::time_point silent_at = Steady::now() + reply_timeout_;
  const Steady::time_point give_up_at = silent_at + longest_reply_;
  std::vector<unsigned char> bytes;
  for (;;) {
    const int wait_ms = MsUntil(std::min(silent_at, give_up_at));
    if (wait_ms == 0) return Outcome::kSilent;
    pollfd fd{port_.fd(), POLLIN, 0};
    if (::poll(&fd, 1, wait_ms) < 0 && errno != EINTR)
      throw ScanError(port_.path() + ": poll: " + std::strerror(errno));
    bytes.clear();
    if (port_.Read(bytes) == SerialPort::ReadStatus::kGone) throw ScanError(port_.error());
    if (bytes.empty()) continue;
    if (heard != nullptr && heard->size() < kMostBytesHeard)
      heard->insert(heard->end(), bytes.begin(), bytes.end());
    silent_at = Steady::now() + reply_timeout_;
    const int awaiting = device.process(bytes.data(), static_cast<unsigned>(bytes.size()));
    CheckLine();
    if (controller_->requests_sent() > requests_before) return Outcome::kMovedOn;
    if (awaiting == 0) return Outcome::kEnded;
  }
}

// The rest of the round after the cell reply: group voltage, current and
// temperature. An unanswered request is re-sent by a further tick, as the
// host's poll loop would, while the device's re-send budget lasts.
void AddressProbe::FinishRound(QorvSPDevice& device) {
  int resends = 0;
  while (!controller_->published()) {
    const Outcome outcome = AwaitReply(device);
    if (outcome == Outcome::kEnded) return;
    if (outcome == Outcome::kSilent) {
      if (++resends > kResendsPerRound) return;
      device.RefreshStatus();
      CheckLine();
    }
  }
}

void AddressProbe::CheckLine() const {
  if (!controller_->line_error().empty()) throw ScanError(controller_->line_error());
}

std::optional<StringReading> ReadString(QorvSPDevice& device) {
  StringReading reading;
  reading.cells = CellCountOf(device.DeviceType());
  try {
    // The device keeps a cell outside its block type's window at 0 V.
    for (int k = 0; k < reading.cells; ++k)
      if (device.Get_Value(0, CellValueName(k)) != 0.0f) ++reading.cells_in_window;
    reading.string_volts = device.Get_Value(0, "group_voltage");
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
  return reading;
}

}  // namespace runner::scan
