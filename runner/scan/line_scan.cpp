#include "runner/scan/line_scan.h"

#include "battery/wire.h"
#include "host/device_contract.h"
#include "runner/lines/serial_port.h"
#include "runner/plugin_access/serial_settings.h"
#include "runner/scan/heard_replies.h"

namespace runner::scan {
bool IsPollable(unsigned address) {
  return static_cast<std::uint8_t>(address + qorv::kBusAddressOffset) !=
         halvex::wire::kRequestPreamble;
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
    double reply_ms_sum = 0.0;
    monitor.polls = 0;
    while (monitor.polls < settings.tries && monitor.answers == 0) {
      ++monitor.polls;
      PollResult result = probe.Poll(address);
      const HeardReplies heard = SortHeard(result.heard, monitor.wire_byte);
      for (const auto& [byte, count] : heard.others) {
        // A byte no configurable address sends is a damaged reply of this one.
        const unsigned from = static_cast<std::uint8_t>(byte - qorv::kBusAddressOffset);
        if (from <= kLastAddress)
          report.heard_late[from] += count;
        else
          report.refused[address].push_back("wrong address byte");
      }
      for (const std::string& why : heard.refused) report.refused[address].push_back(why);
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
