#pragma once
// One configured device as the host runs it: the plug-in's object, where it
// sits on its line, and what the host keeps about it between rounds.

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

#include "host/qorv_spdevice.h"
#include "runner/alarms/alarm_book.h"
#include "runner/alarms/health_alarms.h"
#include "runner/lines/device_recorder.h"
#include "runner/lines/link_watch.h"
#include "runner/plugin_access/device_cells.h"
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
  // The cells the site configured for the device (ConfiguredCells), in
  // ascending order, and the count of cell slots up to the last of them:
  // a 24-block string on a 30-cell monitor has 24, not 30.
  std::vector<int> active_cells;
  int cell_count = 0;
  int first_cell_number = 1;  // number of its cell 0 in the whole string
  LinkWatch link;
  AlarmBook alarms;
  HealthAlarms health_alarms;
  bool alarm_changed = false;                        // an alarm moved in the round under way
  std::map<std::string, std::string> alarm_since;    // AlarmKey -> when it was raised
  std::optional<bool> data_fresh;                    // at the last round report, once it had data
  std::optional<std::vector<unsigned char>> latest;  // last record published
  boost::posix_time::ptime latest_at;                // host time it was published
  std::unique_ptr<DeviceRecorder> recorder;          // its capture, when the host keeps one
};

}  // namespace runner
