#include "runner/site/demo_site.h"

namespace runner {
namespace {

constexpr const char* kDemoSite = R"({
  "poll_period_s": 1.0,
  "reply_timeout_ms": 200,
  "save_interval_minutes": 1,
  "ports": [
    {"name": "demo-bus", "path": "sim",
     "sim": {"seed": 7, "pace": true, "monitors": [
       {"address": "0x81", "cells": 30, "cell_volts": 13.3, "current_amps": -5.0,
        "current_encoding": "sensor", "temperature_c": 25.0,
        "events": [{"type": "cell_drop", "at_s": 4, "for_s": 8, "ramp_s": 1,
                    "cell": 17, "volts": 11.6}]},
       {"address": "0x82", "cells": 30, "cell_volts": 13.28, "current_amps": -5.0,
        "current_encoding": "sensor", "temperature_c": 26.0,
        "events": [{"type": "temperature_rise", "at_s": 9, "for_s": 6, "celsius": 38}]}
     ]}}
  ],
  "devices": [
    {"name": "string-A", "data_id": 1, "address": 1, "port": "demo-bus",
     "config": {"appSetting": {"battery_type": 12, "current_ratio": 1}},
     "limits": [
       {"name": "battery_*_value", "low": 12.0, "high": 14.4, "hysteresis": 0.1},
       {"name": "temperature", "high": 35, "hysteresis": 1}]},
    {"name": "string-B", "data_id": 2, "address": 2, "port": "demo-bus",
     "config": {"appSetting": {"battery_type": 12, "current_ratio": 1, "battery_start": 30,
                               "group_voltage": [1]}},
     "limits": [
       {"name": "battery_*_value", "low": 12.0, "high": 14.4, "hysteresis": 0.1},
       {"name": "group_voltage", "low": 740, "high": 860, "hysteresis": 2},
       {"name": "temperature", "high": 35, "hysteresis": 1}]}
  ]
})";

}  // namespace

Json::Value DemoSiteJson(bool pace, const std::string& history_db) {
  Json::Value root = ParseSiteJson(kDemoSite, "built-in demo site");
  root["ports"][0]["sim"]["pace"] = pace;
  root["history_db"] = history_db;
  return root;
}

Site DemoSite(bool pace, const std::string& history_db) {
  return ParseSite(DemoSiteJson(pace, history_db), "built-in demo site", "");
}

}  // namespace runner
