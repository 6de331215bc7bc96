#pragma once
// A snapshot of what the host knows, for the live view and the JSON lines.
// Values come from each device's last round result (RoundResult), the bytes
// it published and answers its value queries from; its state comes from its
// answer to one query, so a device that answers "数据已超时" is shown stale,
// with its last record greyed out, not with made-up numbers.

#include <optional>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

#include "host/device_contract.h"
#include "runner/alarms/alarm_book.h"
#include "runner/alarms/string_health.h"
#include "runner/history/history_writer.h"
#include "runner/lines/device_slot.h"
#include "runner/lines/link_watch.h"
#include "runner/round/data_state.h"
#include "runner/round/publish_counts.h"

namespace runner {

using CellExtreme = CellReading;  // a cell's number in the whole string and its reading

struct DeviceView {
  std::string name;
  unsigned data_id = 0;
  std::string port;
  DataState state = DataState::kNotReady;
  std::string state_text;    // the device's refusal, when there is one
  bool from_record = false;  // values are from a record the device no longer stands by
  int first_cell_number = 1;
  std::vector<std::optional<float>> cells;
  std::optional<float> group_voltage;
  std::optional<float> group_current;
  std::optional<float> temperature;
  std::optional<CellExtreme> min_cell;
  std::optional<CellExtreme> max_cell;
  std::optional<StringHealth> health;  // over the same cells as the extremes
  std::optional<long> age_s;           // since the last record was published, host clock
  LinkCounters link;
  std::vector<ActiveAlarm> alarms;    // the limits' alarms, then the health alarms
  const Limit* cell_limit = nullptr;  // the limit of cell 0, for scaling bars

  std::optional<float> Spread() const;
};

struct PortView {
  std::string name;
  std::string path;
  bool online = false;
};

struct SiteView {
  boost::posix_time::ptime time;
  unsigned round = 0;
  std::vector<PortView> ports;
  std::vector<DeviceView> devices;
  std::vector<std::string> events;    // the newest host messages
  std::optional<StoreState> store;    // the history writer's state, when history is kept
  std::optional<PublishCounts> mqtt;  // the broker's, when rounds are published
};

// The state of the device's data, from its answer to one query; `text`
// receives its refusal.
DataState ProbeData(const QorvSPDevice& device, std::string& text);

// Asks the device for its values; `online` is its line's state.
DeviceView Observe(const DeviceSlot& slot, const std::string& port, bool online,
                   boost::posix_time::ptime now);

}  // namespace runner
