#include "runner/cli/metrics_snapshot.h"

namespace runner {

metrics::SiteMetrics MetricsSnapshot(const SiteView& view) {
  metrics::SiteMetrics out;
  out.round = view.round;
  out.store = view.store;
  out.mqtt = view.mqtt;
  for (const DeviceView& d : view.devices) {
    metrics::DeviceMetrics m;
    m.name = d.name;
    m.data_id = d.data_id;
    m.port = d.port;
    m.state = d.state;
    m.from_record = d.from_record;
    m.first_cell_number = d.first_cell_number;
    m.cells = d.cells;
    m.string_voltage = d.group_voltage;
    m.current = d.group_current;
    m.temperature = d.temperature;
    m.health = d.health;
    m.age_s = d.age_s;
    m.link = d.link;
    m.alarms = d.alarms;
    out.devices.push_back(std::move(m));
  }
  return out;
}

}  // namespace runner
