#include "runner/lines/site_view.h"

#include <stdexcept>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "runner/history/battery_record.h"
#include "runner/plugin_access/device_cells.h"

namespace runner {
namespace {

std::optional<float> Ask(const QorvSPDevice& device, const std::string& name) {
  try {
    return device.Get_Value(0, name);
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

void FillLive(const DeviceSlot& slot, DeviceView& view) {
  const QorvSPDevice& device = *slot.device;
  for (int k = 0; k < slot.cell_count; ++k) view.cells.push_back(Ask(device, CellValueName(k)));
  view.group_voltage = Ask(device, "group_voltage");
  view.group_current = Ask(device, "group_current");
  view.temperature = Ask(device, "temperature");
}

void FillFromRecord(const DeviceSlot& slot, DeviceView& view) {
  if (!slot.latest) return;
  const std::optional<BatteryRecord> record = DecodeRecord(*slot.latest);
  if (!record) return;
  view.from_record = true;
  for (int k = 0; k < slot.cell_count && k < kRecordCells; ++k)
    view.cells.push_back(record->cells[static_cast<std::size_t>(k)]);
  view.group_voltage = record->group_voltage;
  view.group_current = record->group_current;
  view.temperature = record->temperature;
}

// Over the configured cells only: an empty slot reads 0 V and would be
// every string's weakest cell.
void FindExtremes(const std::vector<int>& active_cells, DeviceView& view) {
  std::vector<CellReading> readings;
  for (const int cell : active_cells) {
    const auto k = static_cast<std::size_t>(cell);
    if (k >= view.cells.size() || !view.cells[k]) continue;
    const CellExtreme here{CellNumber(view.first_cell_number, cell), *view.cells[k]};
    if (!view.min_cell || here.volts < view.min_cell->volts) view.min_cell = here;
    if (!view.max_cell || here.volts > view.max_cell->volts) view.max_cell = here;
    readings.push_back({here.number, here.volts});
  }
  view.health = ComputeHealth(readings);
}

}  // namespace

DataState ProbeData(const QorvSPDevice& device, std::string& text) {
  text.clear();
  try {
    device.Get_Value(0, "group_voltage");
    return DataState::kFresh;
  } catch (const std::out_of_range& e) {
    text = e.what();
  }
  return text == kTimedOutText   ? DataState::kStale
         : text == kNotReadyText ? DataState::kNotReady
                                 : DataState::kFailing;
}

const char* DataStateName(DataState state) {
  switch (state) {
    case DataState::kFresh: return "ok";
    case DataState::kStale: return "stale";
    case DataState::kNotReady: return "no data";
    case DataState::kOffline: return "offline";
    case DataState::kFailing: return "error";
  }
  return "?";
}

std::optional<float> DeviceView::Spread() const {
  if (!min_cell || !max_cell) return std::nullopt;
  return max_cell->volts - min_cell->volts;
}

DeviceView Observe(const DeviceSlot& slot, const std::string& port, bool online,
                   boost::posix_time::ptime now) {
  DeviceView view;
  view.name = slot.settings.name;
  view.data_id = slot.settings.data_id;
  view.port = port;
  view.first_cell_number = slot.first_cell_number;
  view.link = slot.link.counters();
  view.alarms = slot.alarms.Active();
  for (ActiveAlarm& a : slot.health_alarms.Active()) view.alarms.push_back(std::move(a));
  for (ActiveAlarm& a : view.alarms)
    if (auto since = slot.alarm_since.find(AlarmKey(a.name, a.point));
        since != slot.alarm_since.end())
      a.since = since->second;
  view.cell_limit = slot.alarms.limits().Find(CellValueName(0));
  if (slot.latest && !slot.latest_at.is_special())
    view.age_s = (now - slot.latest_at).total_seconds();

  view.state = ProbeData(*slot.device, view.state_text);
  if (view.state == DataState::kFresh) {
    FillLive(slot, view);
  } else {
    FillFromRecord(slot, view);
  }
  if (!online) view.state = DataState::kOffline;
  FindExtremes(slot.active_cells, view);
  return view;
}

}  // namespace runner
