#pragma once
// What the metrics endpoint shows: one snapshot of the site, taken by the
// poll loop once per reported round, and its text for a scrape.
//
// The snapshot is the host's own values, copied: the metrics never reach
// into the lines or the wire, and a scrape reads a snapshot the loop has
// already let go of.

#include <optional>
#include <string>
#include <vector>

#include "runner/alarms/alarm_book.h"
#include "runner/alarms/string_health.h"
#include "runner/history/history_writer.h"
#include "runner/round/data_state.h"
#include "runner/round/link_counters.h"
#include "runner/round/publish_counts.h"

namespace runner::metrics {

struct DeviceMetrics {
  std::string name;
  unsigned data_id = 0;
  std::string port;
  DataState state = DataState::kNotReady;
  bool from_record = false;  // the readings are from a record the device no longer stands by
  int first_cell_number = 1;
  std::vector<std::optional<float>> cells;  // cell slot k is cell first_cell_number + k
  std::optional<float> string_voltage;
  std::optional<float> current;
  std::optional<float> temperature;
  std::optional<StringHealth> health;
  std::optional<long> age_s;  // since the last record was published
  LinkCounters link;
  std::vector<ActiveAlarm> alarms;
};

struct SiteMetrics {
  unsigned round = 0;  // rounds reported: the number of the JSON line of the same round
  std::vector<DeviceMetrics> devices;
  std::optional<StoreState> store;
  std::optional<PublishCounts> mqtt;
};

// The Prometheus text of a snapshot. A device's readings and health are
// left out while it no longer stands by them (its state says why), and
// each value it does not give at all has no series.
std::string MetricsText(const SiteMetrics& site);

}  // namespace runner::metrics
