#include "runner/scan/line_scan.h"

#include "host/device_contract.h"
#include "runner/plugin_access/serial_settings.h"
#include "runner/lines/serial_port.h"

namespace runner::scan {
namespace {

constexpr std::uint8_t kRequestPreamble = 0xFE;

}  // namespace

bool IsPollable(unsigned address) {
  return static_cast<std::uint8_t>(address + qorv::kBusAddressOffset) != kRequestPreamble;
}

ScanReport ScanLine(const qorv::PluginLibrary& plugin, const std::string& port_path,
                    const ScanSettings& settings,
                    const std::function<void(unsigned address)>& on_address) {
  const auto start = std::chrono::steady_clock::now();
  ScanReport report;
  report.port = port_path;
  report.settings = settings;

  // The line runs at the speed the plug-in's devices ask for.
  const int baud =
      plugin_access::BaudRate(*MakeProbeDevice(plugin, {}, settings.from, settings.device_config));
  SerialPort port(port_path, baud);
  if (!port.is_open()) throw ScanError(port.error());

  AddressProbe probe(plugin, port, settings.reply_timeout, settings.device_config);
  for (unsigned address = settings.from; address <= settings.to; ++address) {
    if (!IsPollable(address)) continue;
    if (on_address) on_address(address);
    ++report.addresses_polled;
    FoundMonitor monitor;
    monitor.address = address;
    monitor.wire_byte =
        plugin_access::BusAddress(*MakeProbeDevice(plugin, {}, address, settings.device_config));
    monitor.polls = settings.tries;
    double reply_ms_sum = 0.0;
    for (unsigned t = 0; t < settings.tries; ++t) {
      PollResult result = probe.Poll(address);
      if (!result.answered) continue;
      ++monitor.answers;
      reply_ms_sum += result.reply_ms;
      if (result.reading) monitor.reading = result.reading;
    }
    if (monitor.answers == 0) continue;
    monitor.reply_ms = reply_ms_sum / monitor.answers;
    report.found.push_back(monitor);
  }
  report.took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return report;
}

}  // namespace runner::scan
