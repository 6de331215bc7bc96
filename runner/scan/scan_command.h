#pragma once
// `qorv-host scan PORT`: finds the monitors on a line and reports them as
// a table or JSON, and writes a site file for them on request.
//
// PORT is a serial device ("/dev/ttyUSB0"), or "sim:FILE": the simulator's
// settings in FILE (the "sim" object of a site's simulated port, or a bus
// with a "monitors" list) served on a pseudo-terminal for the scan.

#include <ostream>
#include <string>

namespace runner::scan {

constexpr const char* kScanSummary = "Find the monitors on a line and write a site file for them";
constexpr const char* kSimPortPrefix = "sim:";

struct ScanOptions {
  std::string port;
  unsigned from = 0;
  unsigned to = 127;
  unsigned tries = 3;
  unsigned timeout_ms = 100;
  bool json = false;
  std::string site;            // site file to write; empty: none
  bool force = false;          // replace an existing site file, keeping it as FILE.bak
  std::string plugin;          // empty: default_plugin
  std::string default_plugin;  // the plug-in built with this tree
  int battery_type = 12;       // block type the devices are configured for: 12 or 6 (volts)
};

// Runs the scan. Returns 0 when it completed, 1 on bad input (a message on
// `err` names the option, file or port), when the line failed, or when a
// site file was asked for and no monitor was found.
int RunScan(const ScanOptions& options, std::ostream& out, std::ostream& err);

}  // namespace runner::scan
