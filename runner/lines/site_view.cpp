#include "runner/lines/site_view.h"

#include <stdexcept>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "runner/plugin_access/device_cells.h"

namespace runner {
namespace {

// The values are the last round's: the same bytes the device published and
// answers its value queries from while its data holds. Data it no longer
// stands by is still shown, marked as such.
void FillFromRound(const RoundResult& round, DeviceView& view) {
  for (int k = 0; k < round.layout.count; ++k) view.cells.push_back(round.Cell(k));
  view.group_voltage = round.record.group_voltage;
  view.group_current = round.record.group_current;
  view.temperature = round.record.temperature;
  view.min_cell = round.min_cell;
  view.max_cell = round.max_cell;
  view.health = round.health;
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
  view.first_cell_number = slot.cells.first_number;
  view.link = slot.link.counters();
  view.alarms = slot.alarms.Active();
  for (ActiveAlarm& a : slot.health_alarms.Active()) view.alarms.push_back(std::move(a));
  for (ActiveAlarm& a : view.alarms)
    if (auto since = slot.alarm_since.find(AlarmKey(a.name, a.point));
        since != slot.alarm_since.end())
      a.since = since->second;
  view.cell_limit = slot.alarms.limits().Find(CellValueName(0));
  view.state = ProbeData(*slot.device, view.state_text);
  if (slot.last_round) {
    if (!slot.last_round->at.local.is_special())
      view.age_s = (now - slot.last_round->at.local).total_seconds();
    FillFromRound(*slot.last_round, view);
    view.from_record = view.state != DataState::kFresh;
  }
  if (!online) view.state = DataState::kOffline;
  return view;
}

}  // namespace runner
