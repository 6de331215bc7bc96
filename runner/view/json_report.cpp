#include "runner/view/json_report.h"

#include "runner/round/resolution.h"
#include "runner/time/time_text.h"

namespace runner {
namespace {

Json::Value Number(const std::optional<float>& v, int decimals) {
  return v ? Json::Value(Rounded(static_cast<double>(*v), decimals)) : Json::Value();
}

Json::Value Extreme(const std::optional<CellExtreme>& e) {
  if (!e) return Json::Value();
  Json::Value out(Json::objectValue);
  out["cell"] = e->number;
  out["volts"] = Rounded(static_cast<double>(e->volts), kVoltDecimals);
  return out;
}

Json::Value Link(const LinkCounters& l) {
  Json::Value out(Json::objectValue);
  out["rounds"] = static_cast<Json::UInt64>(l.rounds);
  out["resends"] = static_cast<Json::UInt64>(l.resends);
  out["rejected"] = static_cast<Json::UInt64>(l.rejected);
  out["timeouts"] = static_cast<Json::UInt64>(l.timeouts);
  const bool timed = l.timed_rounds > 0;
  out["round_ms"] = timed ? Json::Value(l.last_round.count() / 1000.0) : Json::Value();
  out["round_ms_mean"] = timed ? Json::Value(l.MeanRound().count() / 1000.0) : Json::Value();
  return out;
}

Json::Value Alarms(const std::vector<ActiveAlarm>& alarms) {
  Json::Value out(Json::arrayValue);
  for (const ActiveAlarm& a : alarms) {
    Json::Value item(Json::objectValue);
    item["name"] = a.name;
    item["text"] = a.text;
    item["point"] = a.point;
    item["kind"] = AlarmKindName(a.kind);
    item["value"] = Rounded(static_cast<double>(a.value), kVoltDecimals);
    item["limit"] = Rounded(static_cast<double>(a.limit), kVoltDecimals);
    item["since"] = a.since.empty() ? Json::Value() : Json::Value(a.since);
    out.append(item);
  }
  return out;
}

// Deviations in the order of "cells", null where a cell gave no reading.
Json::Value Health(const DeviceView& d) {
  if (!d.health) return Json::Value();
  const StringHealth& h = *d.health;
  Json::Value out(Json::objectValue);
  out["cells"] = h.cells;
  out["mean"] = Rounded(h.mean_v, kMeanVoltDecimals);
  out["sigma_mv"] = Rounded(h.sigma_mv, kMillivoltDecimals);
  out["spread_mv"] = Rounded(h.spread_mv, kMillivoltDecimals);
  Json::Value worst(Json::objectValue);
  worst["cell"] = h.Worst().number;
  worst["deviation_mv"] = Rounded(h.Worst().deviation_mv, kMillivoltDecimals);
  out["worst"] = worst;
  Json::Value deviations(Json::arrayValue);
  deviations.resize(static_cast<Json::ArrayIndex>(d.cells.size()));
  for (const CellDeviation& c : h.deviations) {
    const int k = c.number - d.first_cell_number;
    if (k >= 0 && k < static_cast<int>(d.cells.size()))
      deviations[static_cast<Json::ArrayIndex>(k)] = Rounded(c.deviation_mv, kMillivoltDecimals);
  }
  out["deviations_mv"] = deviations;
  return out;
}

Json::Value Device(const DeviceView& d) {
  Json::Value out(Json::objectValue);
  out["name"] = d.name;
  out["data_id"] = d.data_id;
  out["port"] = d.port;
  out["state"] = DataStateName(d.state);
  if (d.state == DataState::kFailing) out["error"] = d.state_text;
  out["from_record"] = d.from_record;
  out["age_s"] = d.age_s ? Json::Value(static_cast<Json::Int64>(*d.age_s)) : Json::Value();
  out["first_cell"] = d.first_cell_number;
  Json::Value cells(Json::arrayValue);
  for (const std::optional<float>& c : d.cells) cells.append(Number(c, kVoltDecimals));
  out["cells"] = cells;
  out["group_voltage"] = Number(d.group_voltage, kVoltDecimals);
  out["group_current"] = Number(d.group_current, kCentDecimals);
  out["temperature"] = Number(d.temperature, kCentDecimals);
  out["min"] = Extreme(d.min_cell);
  out["max"] = Extreme(d.max_cell);
  out["spread"] = Number(d.Spread(), kVoltDecimals);
  out["health"] = Health(d);
  out["link"] = Link(d.link);
  out["alarms"] = Alarms(d.alarms);
  return out;
}

Json::Value Store(const StoreState& st) {
  Json::Value out(Json::objectValue);
  out["pending"] = static_cast<Json::UInt64>(st.pending);
  out["stored"] = static_cast<Json::UInt64>(st.stored);
  out["alarms_stored"] = static_cast<Json::UInt64>(st.alarms_stored);
  out["lost"] = static_cast<Json::UInt64>(st.lost);
  out["failing"] = st.failing;
  out["last_error"] = st.last_error.empty() ? Json::Value() : Json::Value(st.last_error);
  return out;
}

Json::Value Broker(const PublishCounts& m) {
  Json::Value out(Json::objectValue);
  out["broker"] = m.broker;
  out["connected"] = m.connected;
  out["published"] = static_cast<Json::UInt64>(m.published);
  out["waiting"] = static_cast<Json::UInt64>(m.waiting);
  out["backlog"] = static_cast<Json::UInt64>(m.backlog);
  out["skipped"] = static_cast<Json::UInt64>(m.skipped);
  out["lost"] = static_cast<Json::UInt64>(m.lost);
  out["trouble"] = m.trouble.empty() ? Json::Value() : Json::Value(m.trouble);
  return out;
}

}  // namespace

Json::Value RoundJson(const SiteView& view, const std::vector<std::string>& events) {
  Json::Value out(Json::objectValue);
  out["round"] = view.round;
  out["time"] = FormatTime(view.time);
  Json::Value devices(Json::arrayValue);
  for (const DeviceView& d : view.devices) devices.append(Device(d));
  out["devices"] = devices;
  if (view.store) out["store"] = Store(*view.store);
  if (view.mqtt) out["mqtt"] = Broker(*view.mqtt);
  Json::Value list(Json::arrayValue);
  for (const std::string& e : events) list.append(e);
  out["events"] = list;
  return out;
}

}  // namespace runner
