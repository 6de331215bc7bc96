#pragma once
// What a scan found, for a person (a table), for a script (JSON), and as a
// site file with one device per monitor that qorv-host runs unchanged.

#include <string>

#include <json/value.h>

#include "runner/scan/line_scan.h"

namespace runner::scan {

//  address  wire  reply ms  answered  cells in window  string V
//        0  0x80      37.1     3/3              30/30    399.00
std::string FormatTable(const ScanReport& report);

// {"port": ..., "from": 0, "to": 127, "tries": 1, "timeout_ms": 100,
//  "addresses_polled": 127, "duration_ms": 12900,
//  "monitors": [{"address": 0, "wire_byte": "0x80", "reply_ms": 37.1,
//                "answers": 3, "polls": 3, "answer_rate": 1.0,
//                "cells": 30, "cells_in_window": 30, "string_voltage": 399.0}]}
// A monitor whose round did not complete has null cells and voltage.
Json::Value ReportJson(const ScanReport& report);

// Where the devices of the site file are to be polled.
struct SitePort {
  std::string path;           // a serial device; empty for a simulated line
  Json::Value sim;            // the simulated line's settings
  std::string plugin;         // named in the site when not empty
  Json::Value device_config;  // each device's "config" when not empty
};

// A site with one port, "line", and a device "monitor-<address>" per
// monitor found, numbered from data id 1 in address order. A simulated
// line's settings are written as a bus with its "monitors" list, so every
// monitor sits at its own address.
Json::Value SiteJson(const ScanReport& report, const SitePort& port);

}  // namespace runner::scan
