#pragma once
// Simulator settings from JSON (a host's site file) or from short
// "key=value,key=value" text (the command line).
//
// A bus is either one monitor object, or {"seed", "pace", "monitors": [...]}:
//
//   {"address": "0x81", "cells": 30, "cell_type": 12, "cell_volts": 13.3,
//    "group_scale": 0.1, "current_amps": -5.0, "current_encoding": "plain",
//    "temperature_c": 25.0, "seed": 1, "pace": false,
//    "faults": {"drop": 0.05, "corrupt": "2x", "split": 0.5, "split_gap_ms": 20},
//    "events": [{"type": "cell_drop", "at_s": 60, "cell": 4, "ramp_s": 30},
//               {"type": "silence", "at_s": 120, "for_s": 10}]}
//
// Monitor keys (all optional; defaults in MonitorProfile):
//   address         wire address byte, "0x81" or 129: the device's configured
//                   address + 0x80, mod 256
//   device_address  the device's configured address instead (1 means 0x81)
//   cells           1..32
//   cell_type       12 (0.01 V counts, window 9..15 V) or 6 (0.001 V, 4.5..7.5 V)
//   cell_volts      one voltage for every block, or an array of one per block
//   drift_volts, drift_period_s, noise_volts (uniform, up to this much),
//   noise_sigma_mv  Gaussian noise on each reading, standard deviation in mV
//   group_scale     0.1 or 0.01 (volts a count)
//   group_volts     string voltage; default the sum of the blocks
//   current_amps, current_encoding ("plain" or "sensor")
//   temperature_c, spare_reading (counts in the unused cell slots)
//   faults          object, keys below
//   events          array of objects, keys below
// Fault keys: drop corrupt wrong_address noise split trailing delay silence,
//   each a rate 0..1, a count "3x" (the first three replies), or
//   {"rate": r, "count": n}; and noise_max_bytes split_max_chunks
//   split_gap_ms trailing_max_bytes delay_ms silence_s.
// Event keys: type (cell_drop, cell_drift, current_step, temperature_rise,
//   silence), at_s, for_s, ramp_s; cell and volts (cell_drop; volts defaults
//   to 5 % under the window's low end), cell, mv_per_hour and recover_s
//   (cell_drift: negative rates drift down; after for_s the block goes back
//   over recover_s), amps (current_step), celsius (temperature_rise).
// Numbers may also be given as strings. Unknown keys are errors. Every
// error is a ConfigError whose message starts with the key's dotted path.

#include <string>
#include <vector>

#include <json/value.h>

#include "sim/bus.h"
#include "sim/faults.h"
#include "sim/profile.h"

namespace sim {

BusConfig ParseBusConfig(const Json::Value& root);
MonitorSetup ParseMonitor(const Json::Value& object, const std::string& where = "");
// Reads fault keys on top of `base`, so command-line faults can override a file's.
FaultPlan ParseFaults(const Json::Value& object, const std::string& where = "faults",
                      FaultPlan base = {});
FaultRule ParseFaultRule(const Json::Value& value, const std::string& where);
Event ParseEvent(const Json::Value& object, CellType cell_type, const std::string& where = "event");
uint8_t ParseAddress(const Json::Value& value, const std::string& where = "address");

// "cells=30,cell_volts=13.3/13.1,drop=0.1" as a JSON object: numbers become
// numbers, true/false booleans, a/b/c arrays, anything else strings. An item
// without "=" is stored under `bare_key` (an error when that is empty).
Json::Value ParseOptionText(const std::string& text, const std::string& where,
                            const std::string& bare_key = "");

// One monitor from flat text: monitor keys and fault keys side by side,
// e.g. "address=0x82,cells=24,cell_type=6,drop=0.1".
MonitorSetup ParseMonitorText(const std::string& text, const std::string& where = "monitor");

// Adds an event given as "cell_drop,at_s=60,cell=4" to every monitor of the
// bus, or to the one named by an address= item.
void AddEventText(BusConfig& config, const std::string& text);

// Reads JSON text; throws ConfigError naming `where` on a syntax error.
Json::Value ParseJsonText(const std::string& text, const std::string& where);

// Every key a settings file may hold, at any level (monitor, faults, event,
// bus), and every event type: what `halvex-sim --help` must name.
std::vector<std::string> SettingsWords();

}  // namespace sim
