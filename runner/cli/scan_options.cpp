#include "runner/cli/scan_options.h"

#include <string>

#include <CLI/CLI.hpp>

#include "runner/scan/line_scan.h"

namespace runner {

CLI::App* AddScanCommand(CLI::App& app, scan::ScanOptions& o) {
  CLI::App* cmd = app.add_subcommand("scan", scan::kScanSummary);
  const std::string last = std::to_string(scan::kLastAddress);
  cmd->add_option("port", o.port, "serial device, or sim:FILE for a simulated line")->required();
  cmd->add_option("--from", o.from, "first address polled")
      ->capture_default_str()
      ->check(CLI::Range(0u, scan::kLastAddress));
  cmd->add_option("--to", o.to, "last address polled")
      ->capture_default_str()
      ->check(CLI::Range(0u, scan::kLastAddress));
  cmd->add_option("--tries", o.tries,
                  "polls of an address at most, until it answers; one that answers only a later "
                  "try is listed")
      ->capture_default_str()
      ->check(CLI::Range(1u, 1000u));
  cmd->add_option("--timeout-ms", o.timeout_ms,
                  "silence after which an address counts as not answering")
      ->capture_default_str()
      ->check(CLI::Range(1u, 60000u));
  cmd->add_option("--battery-type", o.battery_type,
                  "block type the devices are configured for: 12 or 6 (volts)")
      ->capture_default_str()
      ->check(CLI::IsMember({12, 6}));
  cmd->add_flag("--json", o.json, "one JSON object instead of the table");
  cmd->add_option("--site", o.site, "write a site file with one device per monitor found");
  cmd->add_flag("--force", o.force,
                "replace an existing --site file; the old one is kept as FILE.bak");
  cmd->add_option("--plugin", o.plugin, "plug-in file, over the built one");
  cmd->footer(
      "Polls addresses 0.." + last +
      " (126 is left out: its wire byte 0xFE is the request preamble), one exchange at a "
      "time, each by a device of the plug-in. A monitor counts only when the device took a valid "
      "cell reply from it. sim:FILE serves the simulator's settings in FILE (a site's \"sim\" "
      "object, or a bus with a \"monitors\" list) on a pseudo-terminal.");
  return cmd;
}

}  // namespace runner
