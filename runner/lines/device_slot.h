#pragma once
// One configured device as the host runs it: the plug-in's object, where it
// sits on its line, and what the host keeps about it between rounds.

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "host/qorv_spdevice.h"
#include "runner/alarms/alarm_book.h"
#include "runner/alarms/health_alarms.h"
#include "runner/lines/device_recorder.h"
#include "runner/lines/link_watch.h"
#include "runner/plugin_access/device_cells.h"
#include "runner/round/round_result.h"
#include "runner/site/site.h"

namespace runner {

// An active alarm told apart from the others of its device: a health alarm
// has one value name for every cell, so the point goes with it.
inline std::string AlarmKey(const std::string& name, int point) {
  return name + "#" + std::to_string(point);
}

struct DeviceSlot {
  DeviceSettings settings;
  std::shared_ptr<QorvSPDevice> device;
  std::size_t seat = 0;  // its place among the devices of its port
  // The cells the site configured for the device (ConfiguredCells), and
  // the count of cell slots up to the last of them: a 24-block string on a
  // 30-cell monitor has 24, not 30.
  CellLayout cells;
  LinkWatch link;
  AlarmBook alarms;
  HealthAlarms health_alarms;
  bool alarm_changed = false;                      // an alarm moved in the round under way
  std::vector<AlarmChange> round_changes;          // ... and which, until it is published
  std::map<std::string, std::string> alarm_since;  // AlarmKey -> when it was raised
  std::optional<bool> data_fresh;                  // at the last round report, once it had data
  std::shared_ptr<const RoundResult> last_round;   // the last round published
  bool round_unfinished = false;                   // ... and its history not yet handed over
  std::unique_ptr<DeviceRecorder> recorder;        // its capture, when the host keeps one
};

}  // namespace runner
