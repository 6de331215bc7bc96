#include "runner/publish/round_messages.h"

#include <json/reader.h>
#include <json/value.h>

#include "runner/alarms/alarm_text.h"
#include "runner/alarms/health_alarms.h"
#include "runner/plugin_access/device_cells.h"
#include "runner/round/resolution.h"
#include "runner/time/time_text.h"
#include "support/json_path.h"

namespace runner::publish {
namespace {

Json::Value Reading(double v, int decimals) { return Rounded(v, decimals); }

Json::Value Cell(const std::optional<CellReading>& c) {
  if (!c) return Json::Value();
  Json::Value out(Json::objectValue);
  out["cell"] = c->number;
  out["volts"] = Reading(c->volts, kVoltDecimals);
  return out;
}

void AlarmFields(Json::Value& out, const std::string& name, const std::string& text, int point,
                 AlarmKind kind, float value, float limit) {
  out["family"] = AlarmFamily(name);
  out["name"] = name;
  out["text"] = text;
  out["point"] = point;
  out["level"] = AlarmKindName(kind);
  out["value"] = Reading(value, kVoltDecimals);
  out["limit"] = Reading(limit, kVoltDecimals);
}

}  // namespace

std::string AlarmFamily(const std::string& value_name) {
  if (CellOfValueName(value_name)) return "cell";
  if (value_name == "group_voltage") return "string_voltage";
  if (value_name == "group_current") return "current";
  if (value_name == "temperature") return "temperature";
  if (value_name == kDeviationAlarm) return "deviation";
  if (value_name == kSpreadAlarm) return "spread";
  return "other";
}

const std::vector<std::string>& AlarmFamilies() {
  static const std::vector<std::string> families{
      "cell", "string_voltage", "current", "temperature", "deviation", "spread", "other"};
  return families;
}

std::string StateMessage(const RoundResult& round, std::uint64_t seq, DataState state) {
  Json::Value out(Json::objectValue);
  out["device"] = round.device;
  out["data_id"] = round.data_id;
  out["seq"] = static_cast<Json::UInt64>(seq);
  out["time"] = FormatInstant(round.at.utc, round.at.utc_offset_s);
  out["state"] = DataStateName(state);
  out["backlog"] = false;
  out["first_cell"] = round.layout.first_number;
  Json::Value cells(Json::objectValue);
  for (const CellReading& c : round.cells)
    cells[std::to_string(c.number)] = Reading(c.volts, kVoltDecimals);
  out["cells"] = cells;
  out["group_voltage"] = Reading(round.record.group_voltage, kVoltDecimals);
  out["group_current"] = Reading(round.record.group_current, kCentDecimals);
  out["temperature"] = Reading(round.record.temperature, kCentDecimals);
  out["min"] = Cell(round.min_cell);
  out["max"] = Cell(round.max_cell);
  out["spread_mv"] =
      round.min_cell && round.max_cell
          ? Reading(1000.0 * (round.max_cell->volts - round.min_cell->volts), kMillivoltDecimals)
          : Json::Value();
  const std::optional<StringHealth>& h = round.health;
  out["mean"] = h ? Reading(h->mean_v, kMeanVoltDecimals) : Json::Value();
  out["sigma_mv"] = h ? Reading(h->sigma_mv, kMillivoltDecimals) : Json::Value();
  Json::Value worst;
  if (h) {
    worst["cell"] = h->Worst().number;
    worst["deviation_mv"] = Reading(h->Worst().deviation_mv, kMillivoltDecimals);
  }
  out["worst"] = worst;
  Json::Value link(Json::objectValue);
  link["rounds"] = static_cast<Json::UInt64>(round.link.rounds);
  link["resends"] = static_cast<Json::UInt64>(round.link.resends);
  link["rejected"] = static_cast<Json::UInt64>(round.link.rejected);
  link["timeouts"] = static_cast<Json::UInt64>(round.link.timeouts);
  out["link"] = link;
  return support::OneLine(out);
}

std::string AsBacklog(const std::string& message) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(message.data(), message.data() + message.size(), &value, &errors) ||
      !value.isObject() || !value.isMember("seq"))
    return {};
  value["backlog"] = true;
  return support::OneLine(value);
}

std::string AlarmMessage(const RoundResult& round, const AlarmChange& c) {
  Json::Value out(Json::objectValue);
  out["device"] = round.device;
  out["event"] = c.raised ? "raised" : "cleared";
  AlarmFields(out, c.name, c.text, c.point, c.kind, c.value, c.limit);
  out["time"] = FormatInstant(round.at.utc, round.at.utc_offset_s);
  out["message"] = AlarmText(c);
  return support::OneLine(out);
}

std::string AlarmListMessage(const std::vector<ActiveAlarm>& alarms) {
  Json::Value out(Json::arrayValue);
  for (const ActiveAlarm& a : alarms) {
    Json::Value item(Json::objectValue);
    AlarmFields(item, a.name, a.text, a.point, a.kind, a.value, a.limit);
    item["since"] = a.since.empty() ? Json::Value() : Json::Value(a.since);
    out.append(item);
  }
  return support::OneLine(out);
}

}  // namespace runner::publish
