#include "sim/config.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>

#include <json/reader.h>

#include "host/device_contract.h"
#include "sim/config_error.h"
#include "support/json_path.h"

namespace sim {
namespace {

using KeySet = std::set<std::string>;

const KeySet kProfileKeys = {
    "address",      "device_address",   "cells",         "cell_type",     "cell_volts",
    "drift_volts",  "drift_period_s",   "noise_volts",   "group_scale",   "group_volts",
    "current_amps", "current_encoding", "temperature_c", "spare_reading", "faults",
    "events",       "noise_sigma_mv"};
const KeySet kFaultSettingKeys = {"noise_max_bytes",    "split_max_chunks", "split_gap_ms",
                                  "trailing_max_bytes", "delay_ms",         "silence_s"};
const KeySet kBusKeys = {"seed", "pace"};
constexpr const char* kEventTypes[] = {"cell_drop", "cell_drift", "current_step",
                                       "temperature_rise", "silence"};
const KeySet kEventKeys = {"type",  "at_s", "for_s",   "ramp_s",      "cell",
                           "volts", "amps", "celsius", "mv_per_hour", "recover_s"};

constexpr uint8_t kDeviceAddressOffset = qorv::kBusAddressOffset;  // address 1 is 0x81 on the wire
constexpr double kDropBelowWindow = 0.95;  // default cell_drop target: 5 % under the window

KeySet FaultKeys() {
  KeySet keys = kFaultSettingKeys;
  for (size_t i = 0; i < kFaultKinds; ++i) keys.insert(FaultName(static_cast<Fault>(i)));
  return keys;
}

// Settings also come from the command line, so numbers may be text.
double Number(const Json::Value& value, const std::string& where) {
  return support::Number(value, where, support::NumberText::kAccepted);
}

long Integer(const Json::Value& value, const std::string& where, long lo, long hi) {
  return support::Whole(value, where, lo, hi, support::NumberText::kAccepted);
}

std::string Text(const Json::Value& value, const std::string& where) {
  if (!value.isString()) throw ConfigError(where, "must be a string");
  return value.asString();
}

bool Boolean(const Json::Value& value, const std::string& where) {
  if (value.isBool()) return value.asBool();
  if (value.isString() && (value.asString() == "true" || value.asString() == "false")) {
    return value.asString() == "true";
  }
  throw ConfigError(where, "must be true or false");
}

const Json::Value& RequireObject(const Json::Value& object, const std::string& where) {
  if (!object.isObject())
    throw ConfigError(where.empty() ? "settings" : where, "must be an object");
  return object;
}

// An object whose keys are checked against a known set before any is read.
class ObjectReader : public support::Object {
 public:
  ObjectReader(const Json::Value& object, const std::string& where, const KeySet& known)
      : Object(RequireObject(object, where), where, known) {}

  void Read(const char* key, double& out) const {
    if (Has(key)) out = Number((*this)[key], Where(key));
  }
  void Read(const char* key, std::optional<double>& out) const {
    if (Has(key)) out = Number((*this)[key], Where(key));
  }
  void Read(const char* key, int& out, long lo, long hi) const {
    if (Has(key)) out = static_cast<int>(Integer((*this)[key], Where(key), lo, hi));
  }
};

std::vector<double> Voltages(const Json::Value& value, const std::string& where) {
  if (!value.isArray()) return {Number(value, where)};
  std::vector<double> volts;
  for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
    volts.push_back(Number(value[i], support::Item(where, i)));
  }
  return volts;
}

uint8_t ReadAddress(const ObjectReader& reader, uint8_t fallback) {
  if (reader.Has("address") && reader.Has("device_address")) {
    throw ConfigError(reader.Where("address"), "give address or device_address, not both");
  }
  if (reader.Has("device_address")) {
    const auto configured = ParseAddress(reader["device_address"], reader.Where("device_address"));
    return static_cast<uint8_t>(configured + kDeviceAddressOffset);
  }
  return reader.Has("address") ? ParseAddress(reader["address"], reader.Where("address"))
                               : fallback;
}

void ReadScales(const ObjectReader& reader, MonitorProfile& profile) {
  if (reader.Has("cell_type")) {
    const long type = Integer(reader["cell_type"], reader.Where("cell_type"), 0, 0xFFFF);
    if (type != 12 && type != 6) throw ConfigError(reader.Where("cell_type"), "must be 12 or 6");
    profile.cell_type = type == 6 ? CellType::kSixVolt : CellType::kTwelveVolt;
  }
  if (reader.Has("group_scale")) {
    const double scale = Number(reader["group_scale"], reader.Where("group_scale"));
    if (std::fabs(scale - 0.1) > 1e-9 && std::fabs(scale - 0.01) > 1e-9) {
      throw ConfigError(reader.Where("group_scale"), "must be 0.1 or 0.01");
    }
    profile.group_scale = scale < 0.05 ? GroupScale::kCentiVolt : GroupScale::kDeciVolt;
  }
  if (reader.Has("current_encoding")) {
    const std::string encoding = Text(reader["current_encoding"], reader.Where("current_encoding"));
    if (encoding != "plain" && encoding != "sensor") {
      throw ConfigError(reader.Where("current_encoding"), "must be \"plain\" or \"sensor\"");
    }
    profile.current_encoding =
        encoding == "sensor" ? CurrentEncoding::kSensor : CurrentEncoding::kPlain;
  }
}

MonitorProfile ReadProfile(const ObjectReader& reader) {
  MonitorProfile profile;
  profile.address = ReadAddress(reader, profile.address);
  reader.Read("cells", profile.cells, 1, static_cast<long>(kCellReadings));
  ReadScales(reader, profile);
  if (profile.cell_type == CellType::kSixVolt) profile.cell_volts = {6.75};
  if (reader.Has("cell_volts"))
    profile.cell_volts = Voltages(reader["cell_volts"], reader.Where("cell_volts"));
  reader.Read("drift_volts", profile.drift_volts);
  reader.Read("drift_period_s", profile.drift_period_s);
  reader.Read("noise_volts", profile.noise_volts);
  reader.Read("noise_sigma_mv", profile.noise_sigma_mv);
  reader.Read("group_volts", profile.group_volts);
  reader.Read("current_amps", profile.current_amps);
  reader.Read("temperature_c", profile.temperature_c);
  int spare = profile.spare_reading;
  reader.Read("spare_reading", spare, 0, 0xFFFF);
  profile.spare_reading = static_cast<uint16_t>(spare);
  return profile;
}

void ReadEvents(const ObjectReader& reader, MonitorProfile& profile) {
  if (!reader.Has("events")) return;
  const Json::Value& events = reader["events"];
  if (!events.isArray()) throw ConfigError(reader.Where("events"), "must be an array");
  for (Json::ArrayIndex i = 0; i < events.size(); ++i) {
    profile.events.push_back(
        ParseEvent(events[i], profile.cell_type, support::Item(reader.Where("events"), i)));
  }
}

MonitorSetup ReadMonitor(const Json::Value& object, const std::string& where, const KeySet& keys) {
  const ObjectReader reader(object, where, keys);
  MonitorSetup setup;
  setup.profile = ReadProfile(reader);
  ReadEvents(reader, setup.profile);
  if (reader.Has("faults")) setup.faults = ParseFaults(reader["faults"], reader.Where("faults"));
  Validate(setup.profile, where);
  return setup;
}

BusOptions ReadBusOptions(const Json::Value& root) {
  BusOptions options;
  if (root.isMember("seed")) {
    const Json::Value& seed = root["seed"];
    if (seed.isUInt64()) {
      options.seed = seed.asUInt64();
    } else {
      options.seed = static_cast<uint64_t>(Integer(seed, "seed", 0, 1L << 52));
    }
  }
  if (root.isMember("pace")) options.pace = Boolean(root["pace"], "pace");
  return options;
}

Json::Value ScalarFromText(const std::string& text) {
  if (text == "true" || text == "false") return Json::Value(text == "true");
  if (const std::optional<double> number = support::NumberFromText(text))
    return Json::Value(*number);
  return Json::Value(text);
}

Json::Value ValueFromText(const std::string& text) {
  if (text.find('/') == std::string::npos) return ScalarFromText(text);
  Json::Value list(Json::arrayValue);
  size_t start = 0;
  for (;;) {
    const size_t slash = text.find('/', start);
    list.append(ScalarFromText(text.substr(start, slash - start)));
    if (slash == std::string::npos) return list;
    start = slash + 1;
  }
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

uint8_t ParseAddress(const Json::Value& value, const std::string& where) {
  long address = -1;
  if (value.isString()) {
    const std::string text = value.asString();
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    address = std::strtol(text.c_str(), &end, hex ? 16 : 10);
    if (text.empty() || end != text.c_str() + text.size()) address = -1;
  } else if (value.isNumeric() && value.asDouble() == std::floor(value.asDouble())) {
    address = static_cast<long>(value.asDouble());
  }
  if (address < 0 || address > 0xFF) {
    throw ConfigError(where,
                      "must be a byte such as \"0x81\" or 129, got " + support::Describe(value));
  }
  return static_cast<uint8_t>(address);
}

FaultRule ParseFaultRule(const Json::Value& value, const std::string& where) {
  FaultRule rule;
  if (value.isObject()) {
    const ObjectReader reader(value, where, {"rate", "count"});
    reader.Read("rate", rule.rate);
    reader.Read("count", rule.count, 0, 1L << 30);
  } else if (value.isString() && !value.asString().empty() && value.asString().back() == 'x') {
    const std::string count = value.asString().substr(0, value.asString().size() - 1);
    rule.count = static_cast<int>(Integer(Json::Value(count), where, 0, 1L << 30));
  } else {
    rule.rate = Number(value, where);
  }
  if (!(rule.rate >= 0 && rule.rate <= 1)) {
    throw ConfigError(where, "rate must lie in 0..1, got " + std::to_string(rule.rate));
  }
  return rule;
}

FaultPlan ParseFaults(const Json::Value& object, const std::string& where, FaultPlan plan) {
  const ObjectReader reader(object, where, FaultKeys());
  for (size_t i = 0; i < kFaultKinds; ++i) {
    const char* name = FaultName(static_cast<Fault>(i));
    if (reader.Has(name)) plan.rules[i] = ParseFaultRule(reader[name], reader.Where(name));
  }
  reader.Read("noise_max_bytes", plan.noise_max_bytes, 1, 1024);
  reader.Read("split_max_chunks", plan.split_max_chunks, 2, 1024);
  reader.Read("split_gap_ms", plan.split_gap_ms);
  reader.Read("trailing_max_bytes", plan.trailing_max_bytes, 1, 1024);
  reader.Read("delay_ms", plan.delay_ms);
  reader.Read("silence_s", plan.silence_s);
  Validate(plan, where);
  return plan;
}

Event ParseEvent(const Json::Value& object, CellType cell_type, const std::string& where) {
  const ObjectReader reader(object, where, kEventKeys);
  if (!reader.Has("type")) throw ConfigError(reader.Where("type"), "missing");
  const std::string type = Text(reader["type"], reader.Where("type"));
  // The one value key each kind takes; the others are mistakes.
  struct KindKey {
    const char* type;
    Event::Kind kind;
    const char* key;
  };
  const KindKey kinds[] = {{"cell_drop", Event::Kind::kCellDrop, "volts"},
                           {"current_step", Event::Kind::kCurrentStep, "amps"},
                           {"temperature_rise", Event::Kind::kTemperatureRise, "celsius"},
                           {"cell_drift", Event::Kind::kCellDrift, "mv_per_hour"},
                           {"silence", Event::Kind::kSilence, nullptr}};
  const KindKey* match = nullptr;
  for (const KindKey& kind : kinds) match = type == kind.type ? &kind : match;
  if (!match) {
    throw ConfigError(
        reader.Where("type"),
        "must be cell_drop, cell_drift, current_step, temperature_rise or silence, got " + type);
  }
  Event event;
  event.kind = match->kind;
  for (const char* key : {"volts", "amps", "celsius", "mv_per_hour"}) {
    if (reader.Has(key) && (!match->key || std::string(key) != match->key)) {
      throw ConfigError(reader.Where(key), "does not apply to " + type);
    }
  }
  const bool on_cell =
      event.kind == Event::Kind::kCellDrop || event.kind == Event::Kind::kCellDrift;
  if (reader.Has("cell") && !on_cell) {
    throw ConfigError(reader.Where("cell"), "does not apply to " + type);
  }
  if (reader.Has("recover_s") && event.kind != Event::Kind::kCellDrift) {
    throw ConfigError(reader.Where("recover_s"), "does not apply to " + type);
  }
  if (on_cell && !reader.Has("cell")) throw ConfigError(reader.Where("cell"), "missing");
  const bool needs_value = event.kind == Event::Kind::kCurrentStep ||
                           event.kind == Event::Kind::kTemperatureRise ||
                           event.kind == Event::Kind::kCellDrift;
  if (needs_value && !reader.Has(match->key))
    throw ConfigError(reader.Where(match->key), "missing");
  if (event.kind == Event::Kind::kCellDrop)
    event.value = WindowOf(cell_type).low * kDropBelowWindow;
  reader.Read("at_s", event.at_s);
  reader.Read("for_s", event.for_s);
  reader.Read("ramp_s", event.ramp_s);
  reader.Read("recover_s", event.recover_s);
  reader.Read("cell", event.cell, 0, static_cast<long>(kCellReadings) - 1);
  if (match->key) reader.Read(match->key, event.value);
  return event;
}

MonitorSetup ParseMonitor(const Json::Value& object, const std::string& where) {
  return ReadMonitor(object, where, kProfileKeys);
}

BusConfig ParseBusConfig(const Json::Value& root) {
  BusConfig config;
  if (root.isObject() && root.isMember("monitors")) {
    const ObjectReader reader(root, "", {"seed", "pace", "monitors"});
    const Json::Value& monitors = root["monitors"];
    if (!monitors.isArray() || monitors.empty()) {
      throw ConfigError("monitors", "must be a non-empty array of monitor objects");
    }
    for (Json::ArrayIndex i = 0; i < monitors.size(); ++i) {
      config.monitors.push_back(ParseMonitor(monitors[i], support::Item("monitors", i)));
    }
  } else {
    KeySet keys = kProfileKeys;
    keys.insert(kBusKeys.begin(), kBusKeys.end());
    config.monitors.push_back(ReadMonitor(root, "", keys));
  }
  config.options = ReadBusOptions(root);
  return config;
}

Json::Value ParseOptionText(const std::string& text, const std::string& where,
                            const std::string& bare_key) {
  Json::Value object(Json::objectValue);
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = Trim(text.substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) continue;
    const size_t equals = item.find('=');
    const std::string key = equals == std::string::npos ? bare_key : Trim(item.substr(0, equals));
    if (key.empty()) throw ConfigError(where, "expected key=value, got \"" + item + "\"");
    if (object.isMember(key)) throw ConfigError(support::Member(where, key), "given twice");
    object[key] = equals == std::string::npos ? Json::Value(item)
                                              : ValueFromText(Trim(item.substr(equals + 1)));
  }
  return object;
}

MonitorSetup ParseMonitorText(const std::string& text, const std::string& where) {
  const Json::Value flat = ParseOptionText(text, where);
  const KeySet fault_keys = FaultKeys();
  Json::Value object(Json::objectValue);
  Json::Value faults(Json::objectValue);
  for (const std::string& key : flat.getMemberNames()) {
    (fault_keys.count(key) ? faults : object)[key] = flat[key];
  }
  if (!faults.empty()) object["faults"] = faults;
  return ParseMonitor(object, where);
}

void AddEventText(BusConfig& config, const std::string& text) {
  Json::Value object = ParseOptionText(text, "event", "type");
  std::optional<uint8_t> address;
  if (object.isMember("address")) {
    address = ParseAddress(object["address"], "event.address");
    object.removeMember("address");
  }
  bool added = false;
  for (MonitorSetup& setup : config.monitors) {
    if (address && setup.profile.address != *address) continue;
    setup.profile.events.push_back(ParseEvent(object, setup.profile.cell_type, "event"));
    Validate(setup.profile, "event");
    added = true;
  }
  if (!added) throw ConfigError("event.address", "no monitor has that address");
}

std::vector<std::string> SettingsWords() {
  std::vector<std::string> words;
  for (const KeySet* keys : {&kProfileKeys, &kBusKeys, &kEventKeys})
    words.insert(words.end(), keys->begin(), keys->end());
  for (const std::string& key : FaultKeys()) words.push_back(key);
  for (const char* type : kEventTypes) words.push_back(type);
  for (const char* key : {"monitors", "rate", "count"}) words.push_back(key);
  return words;
}

Json::Value ParseJsonText(const std::string& text, const std::string& where) {
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
    throw ConfigError(where, "not valid JSON: " + errors);
  }
  return root;
}

}  // namespace sim
