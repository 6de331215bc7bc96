#include "runner/site/site.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>

#include <json/reader.h>

#include "battery/wire.h"
#include "runner/plugin_access/device_cells.h"
#include "runner/site/json_fields.h"
#include "runner/site/peer_sum_cycles.h"
#include "sim/config.h"
#include "sim/config_error.h"
#include "support/bounded_file.h"
#include "support/json_path.h"

namespace runner {
namespace {

using internal::Describe;
using internal::FieldError;
using internal::Fields;
using internal::Item;
using internal::Member;
using internal::Resolve;

constexpr const char* kSimulatedPath = "sim";
// The device's own default when no interval is configured: 28800 s.
constexpr unsigned kDefaultSaveIntervalMinutes = 480;
constexpr long kMaxIoControlMinutes = 65535;  // io-control 100 carries 16 bits
// A site file is a few kilobytes; anything near this is a wrong file.
constexpr std::size_t kMaxSiteFileBytes = std::size_t{1} << 20;
constexpr long kMaxBatteryStart = 9999;
// Far deeper than any site file; bounds the parser's recursion.
constexpr int kMaxJsonDepth = 64;
// The values a device answers by name, with a name for each of the record's cells.
constexpr const char* kScalarValueNames[] = {"group_voltage", "group_current", "temperature"};

// A scalar of the device configuration as the device reads it: its text
// form, converted like atoi.
// The range is checked on the value as written, before any conversion: a
// number beyond `long` has no defined conversion, and text is read whole
// rather than with atol's silent overflow.
long ConfigInteger(const Json::Value& value, const std::string& where, long lo, long hi) {
  const auto refuse = [&] {
    return FieldError{where, "must be a whole number in " + std::to_string(lo) + ".." +
                                 std::to_string(hi) + ", got " + Describe(value)};
  };
  if (value.isArray() || value.isObject()) throw refuse();
  double number = 0;
  if (value.isNumeric() && !value.isBool()) {
    number = std::trunc(value.asDouble());  // the device truncates toward zero
  } else {
    const std::string text = value.asString();
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno == ERANGE) throw refuse();
    number = static_cast<double>(parsed);  // like atoi: the leading digits
  }
  if (!(number >= static_cast<double>(lo) && number <= static_cast<double>(hi))) throw refuse();
  return static_cast<long>(number);
}

unsigned PeerId(const Json::Value& value, const std::string& where) {
  char* end = nullptr;
  const std::string text = value.isString() ? value.asString() : "";
  if (value.isUInt()) return value.asUInt();
  const unsigned long id = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || id > 0xFFFFFFFFul)
    throw FieldError{where, "must be a data id, got " + Describe(value)};
  return static_cast<unsigned>(id);
}

std::vector<std::string> AnsweredValueNames() {
  std::vector<std::string> names(std::begin(kScalarValueNames), std::end(kScalarValueNames));
  for (int k = 0; k < kRecordCells; ++k) names.push_back(CellValueName(k));
  return names;
}

// A limit on a name no device answers would never fire: a typing error
// ("tempreature") must not pass for a working alarm.
void CheckLimitName(const std::string& name, const std::string& where) {
  const std::vector<std::string> names = AnsweredValueNames();
  const bool pattern = IsPattern(name);
  for (const std::string& known : names)
    if (pattern ? fnmatch(name.c_str(), known.c_str(), 0) == 0 : name == known) return;
  throw FieldError{where, std::string(pattern ? "matches" : "is") +
                              " no value a device answers: \"" + name +
                              "\" (values: group_voltage, group_current, temperature, " +
                              CellValueName(0) + " .. " + CellValueName(kRecordCells - 1) + ")"};
}

Limit ReadLimit(const Json::Value& value, const std::string& where) {
  const Fields f(value, where, {"name", "low", "high", "hysteresis"});
  Limit limit;
  limit.name = f.String("name");
  CheckLimitName(limit.name, f.Where("name"));
  if (auto low = f.OptionalNumber("low", -1e6, 1e6)) limit.low = static_cast<float>(*low);
  if (auto high = f.OptionalNumber("high", -1e6, 1e6)) limit.high = static_cast<float>(*high);
  if (!limit.low && !limit.high) throw FieldError{where, "needs \"low\", \"high\" or both"};
  if (limit.low && limit.high && *limit.low >= *limit.high)
    throw FieldError{f.Where("low"), "must be below \"high\""};
  limit.hysteresis = static_cast<float>(f.OptionalNumber("hysteresis", 0, 1e6).value_or(0));
  if (limit.low && limit.high && limit.hysteresis * 2 > *limit.high - *limit.low)
    throw FieldError{f.Where("hysteresis"), "must be at most half the distance from low to high"};
  return limit;
}

LimitTable ReadLimits(const Fields& f) {
  if (!f.Has("limits")) return {};
  const Json::Value& list = f.Get("limits");
  if (!list.isArray()) throw FieldError{f.Where("limits"), "must be an array of limit objects"};
  std::vector<Limit> limits;
  for (Json::ArrayIndex i = 0; i < list.size(); ++i)
    limits.push_back(ReadLimit(list[i], Item(f.Where("limits"), i)));
  return LimitTable(std::move(limits));
}

// Blocks of 6 V or 12 V, as the device reads its "battery_type".
int BlockVolts(const Json::Value& config) {
  constexpr int kSixVoltBlock = 6, kTwelveVoltBlock = 12;
  if (!config.isObject() || !config["appSetting"].isObject()) return kTwelveVoltBlock;
  const Json::Value& type = config["appSetting"]["battery_type"];
  const bool six = type.isNumeric()
                       ? std::trunc(type.asDouble()) == kSixVoltBlock
                       : type.isString() && std::atoi(type.asString().c_str()) == kSixVoltBlock;
  return six ? kSixVoltBlock : kTwelveVoltBlock;
}

// A limit with neither level takes both defaults; one given alone is the
// only level. The hysteresis defaults too.
HealthLevels ReadHealthLevels(const Fields& f, HealthLevels defaults) {
  constexpr double kMostMillivolts = 10000;
  HealthLevels levels;
  if (auto w = f.OptionalNumber("warning", 1, kMostMillivolts))
    levels.warning_mv = static_cast<float>(*w);
  if (auto c = f.OptionalNumber("critical", 1, kMostMillivolts))
    levels.critical_mv = static_cast<float>(*c);
  if (!levels.warning_mv && !levels.critical_mv) {
    levels.warning_mv = defaults.warning_mv;
    levels.critical_mv = defaults.critical_mv;
  }
  if (levels.warning_mv && levels.critical_mv && *levels.warning_mv >= *levels.critical_mv)
    throw FieldError{f.Where("warning"), "must be below \"critical\""};
  levels.hysteresis_mv = static_cast<float>(
      f.OptionalNumber("hysteresis", 0, kMostMillivolts).value_or(defaults.hysteresis_mv));
  const float lowest = levels.warning_mv.value_or(levels.critical_mv.value_or(0));
  if (levels.hysteresis_mv >= lowest)
    throw FieldError{f.Where("hysteresis"), "must be below the lowest level, or it never clears"};
  return levels;
}

HealthLimits ReadHealth(const Fields& device, int block_volts) {
  HealthLimits health;
  if (!device.Has("health")) return health;
  const Fields f(device.Get("health"), device.Where("health"), {"deviation_mv", "spread_mv"});
  if (f.Has("deviation_mv")) {
    const Fields d(f.Get("deviation_mv"), f.Where("deviation_mv"),
                   {"warning", "critical", "hysteresis", "cells"});
    health.deviation = ReadHealthLevels(d, DefaultDeviation(block_volts));
    if (d.Has("cells")) {
      health.deviation_cells = d.String("cells");
      CheckLimitName(health.deviation_cells, d.Where("cells"));
    }
  }
  if (f.Has("spread_mv")) {
    const Fields sp(f.Get("spread_mv"), f.Where("spread_mv"),
                    {"warning", "critical", "hysteresis"});
    health.spread = ReadHealthLevels(sp, DefaultSpread(block_volts));
  }
  return health;
}

// The host-side reading of the device configuration: the history interval
// and the peer list, both of which the host acts on.
void ReadDeviceConfig(DeviceSettings& d, const std::string& where,
                      std::optional<unsigned> site_interval) {
  d.save_interval_minutes = site_interval.value_or(kDefaultSaveIntervalMinutes);
  if (!d.config.isObject()) throw FieldError{where, "must be an object, got " + Describe(d.config)};
  // Const access only: the object goes to the device exactly as written.
  const Json::Value& config = d.config;
  const Json::Value& app = config["appSetting"];
  if (!app.isObject()) return;
  const std::string app_where = Member(where, "appSetting");
  const auto given = [&](const char* key) { return app.isMember(key) && !app[key].isNull(); };
  if (given("save_interval")) {
    // 0 or less: the device's default interval.
    const long minutes =
        ConfigInteger(app["save_interval"], Member(app_where, "save_interval"),
                      std::numeric_limits<std::int32_t>::min(), kMaxIoControlMinutes);
    d.save_interval_minutes =
        minutes > 0 ? static_cast<unsigned>(minutes) : kDefaultSaveIntervalMinutes;
  }
  // The cells' numbers in the whole string: never 0 or below, never beyond
  // what a string of strings can number.
  if (given("battery_start"))
    ConfigInteger(app["battery_start"], Member(app_where, "battery_start"), 0, kMaxBatteryStart);
  for (const char* key : {"group_index", "amount"})
    if (given(key))
      ConfigInteger(app[key], Member(app_where, key), std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max());
  const Json::Value& peers = app["group_voltage"];
  if (!peers.isArray()) return;
  for (Json::ArrayIndex i = 0; i < peers.size(); ++i)
    d.peer_ids.push_back(PeerId(peers[i], Item(Member(app_where, "group_voltage"), i)));
}

// Names go into the terminal view, the log and messages: a control
// character could move the cursor or forge a log line, and bytes that are
// not UTF-8 garble every line they appear on.
bool IsPrintableUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if ((lead >= 0x80 && lead < 0xC2) || lead > 0xF4) return false;  // no lead byte
    const std::size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::uint32_t code = len == 1 ? lead : lead & (0x7Fu >> len);
    if (i + len > text.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[len] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) return false;
    i += len;
  }
  return true;
}

// `text` with every byte outside printable ASCII as \xNN, so a message
// about a bad name does not carry the bad bytes to the terminal.
std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
      continue;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    out += hex;
  }
  return out;
}

std::string ReadName(const Fields& f) {
  const std::string name = f.String("name");
  if (!IsPrintableUtf8(name))
    throw FieldError{
        f.Where("name"),
        "must be printable UTF-8 text (no control characters), got \"" + Escaped(name) + "\""};
  return name;
}

// A "monitors" list is served as given. Without one, the object is the
// profile of one monitor per device on the port, each at its device's wire
// address (AddSimMonitors), so it must not set an address itself.
void ReadSimBus(const Fields& f, PortSettings& port) {
  const Json::Value& object = f.Has("sim") ? f.Get("sim") : Json::Value(Json::objectValue);
  port.monitor_per_device = !(object.isObject() && object.isMember("monitors"));
  port.sim_source = object;
  for (const char* key : {"address", "device_address"})
    if (port.monitor_per_device && object.isObject() && object.isMember(key))
      throw FieldError{Member(f.Where("sim"), key),
                       "give addresses in a \"monitors\" list; without one every device on "
                       "the port gets a monitor at its own address"};
  try {
    port.sim = sim::ParseBusConfig(object);
  } catch (const sim::ConfigError& e) {
    throw FieldError{f.Where("sim"), e.what()};
  }
}

PortSettings ReadPort(const Json::Value& value, const std::string& where,
                      const std::string& base_dir) {
  const Fields f(value, where, {"name", "path", "sim"});
  PortSettings port;
  port.name = ReadName(f);
  const std::string path = f.String("path");
  if (path == kSimulatedPath) {
    ReadSimBus(f, port);
  } else {
    if (f.Has("sim")) throw FieldError{f.Where("sim"), "only for a port whose path is \"sim\""};
    port.path = Resolve(path, base_dir);
  }
  return port;
}

std::size_t FindPort(const std::vector<PortSettings>& ports, const std::string& name,
                     const std::string& where) {
  for (std::size_t i = 0; i < ports.size(); ++i)
    if (ports[i].name == name) return i;
  throw FieldError{where, "names no port: \"" + name + "\""};
}

DeviceSettings ReadDevice(const Json::Value& value, const std::string& where,
                          const std::vector<PortSettings>& ports,
                          std::optional<unsigned> site_interval) {
  const Fields f(value, where,
                 {"name", "data_id", "address", "port", "config", "limits", "health"});
  DeviceSettings d;
  d.name = ReadName(f);
  d.data_id = static_cast<unsigned>(f.Whole("data_id", 1, 0xFFFFFFFFl));
  d.address = static_cast<unsigned>(f.Whole("address", 0, 255));
  if (d.WireAddress() == halvex::wire::kRequestPreamble)
    throw FieldError{f.Where("address"), "126 goes on the wire as 0xFE, the request preamble"};
  d.port = FindPort(ports, f.String("port"), f.Where("port"));
  d.config = f.Has("config") ? f.Get("config") : Json::Value(Json::objectValue);
  d.limits = ReadLimits(f);
  ReadDeviceConfig(d, f.Where("config"), site_interval);
  d.health = ReadHealth(f, BlockVolts(d.config));
  return d;
}

template <typename T>
void RequireUnique(const std::vector<T>& items, const std::string& list, const char* key,
                   const std::function<std::string(const T&)>& value_of) {
  std::map<std::string, std::size_t> seen;
  for (std::size_t i = 0; i < items.size(); ++i) {
    auto [it, fresh] = seen.emplace(value_of(items[i]), i);
    if (!fresh)
      throw FieldError{
          Member(Item(list, static_cast<unsigned>(i)), key),
          it->first + " is already used by " + Item(list, static_cast<unsigned>(it->second))};
  }
}

void CheckPeers(const std::vector<DeviceSettings>& devices) {
  std::map<unsigned, std::size_t> by_id;
  for (std::size_t i = 0; i < devices.size(); ++i) by_id[devices[i].data_id] = i;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const std::string where =
        Item("devices", static_cast<unsigned>(i)) + ".config.appSetting.group_voltage";
    for (std::size_t k = 0; k < devices[i].peer_ids.size(); ++k)
      if (!by_id.count(devices[i].peer_ids[k]))
        throw FieldError{Item(where, static_cast<unsigned>(k)),
                         "no device has data id " + std::to_string(devices[i].peer_ids[k])};
  }
  const std::vector<std::size_t> cycle = FindPeerCycle(devices);
  if (!cycle.empty())
    throw FieldError{
        Item("devices", static_cast<unsigned>(cycle[0])) + ".config.appSetting.group_voltage",
        "peer sums form a cycle: " + DescribePeerCycle(devices, cycle)};
}

// A simulated port without a monitor list serves one monitor per device on
// it, each at its device's wire address, with the profile given (or the
// default one).
void AddSimMonitors(Site& site) {
  for (std::size_t p = 0; p < site.ports.size(); ++p) {
    std::optional<sim::BusConfig>& bus = site.ports[p].sim;
    if (!bus || !site.ports[p].monitor_per_device) continue;
    const sim::MonitorSetup profile =
        bus->monitors.empty() ? sim::MonitorSetup{} : bus->monitors.front();
    bus->monitors.clear();
    for (const DeviceSettings& d : site.devices) {
      if (d.port != p) continue;
      sim::MonitorSetup setup = profile;
      setup.profile.address = d.WireAddress();
      bus->monitors.push_back(setup);
    }
  }
}

void ReadRoot(Site& site, const Json::Value& root, const std::string& base_dir) {
  const Fields f(root, "",
                 {"plugin", "poll_period_s", "reply_timeout_ms", "history_db",
                  "save_interval_minutes", "ports", "devices", "mqtt", "metrics"});
  site.plugin = Resolve(f.OptionalString("plugin").value_or(""), base_dir);
  site.poll_period_s = f.OptionalNumber("poll_period_s", 0.05, 3600).value_or(1.0);
  site.reply_timeout_ms =
      static_cast<unsigned>(f.OptionalWhole("reply_timeout_ms", 10, 60000).value_or(200));
  if (site.reply_timeout_ms >= site.poll_period_s * 1000)
    throw FieldError{"reply_timeout_ms", "must be shorter than the poll period"};
  // Absent: the default file; null: a site that keeps no history.
  if (root.isMember("history_db") && root["history_db"].isNull()) {
    site.history_db.clear();
  } else {
    const std::optional<std::string> db = f.OptionalString("history_db");
    if (db && db->empty())
      throw FieldError{"history_db", "must name a file; null runs the site without history"};
    site.history_db = Resolve(db.value_or("qorv-history.db"), base_dir);
  }
  if (f.Has("mqtt"))
    site.mqtt =
        internal::ReadMqttSettings(f.Get("mqtt"), f.Where("mqtt"), base_dir, SiteName(site.origin));
  if (const auto metrics = f.OptionalString("metrics")) {
    try {
      site.metrics = ParseMetricsAddress(*metrics);
    } catch (const std::invalid_argument& e) {
      throw FieldError{"metrics", e.what()};
    }
  }
  std::optional<unsigned> interval;
  if (auto m = f.OptionalWhole("save_interval_minutes", 1, kMaxIoControlMinutes))
    interval = static_cast<unsigned>(*m);

  if (!f.Has("ports") || !f.Get("ports").isArray() || f.Get("ports").empty())
    throw FieldError{"ports", "must be a non-empty array of port objects"};
  for (Json::ArrayIndex i = 0; i < f.Get("ports").size(); ++i)
    site.ports.push_back(ReadPort(f.Get("ports")[i], Item("ports", i), base_dir));
  if (!f.Has("devices") || !f.Get("devices").isArray() || f.Get("devices").empty())
    throw FieldError{"devices", "must be a non-empty array of device objects"};
  for (Json::ArrayIndex i = 0; i < f.Get("devices").size(); ++i)
    site.devices.push_back(
        ReadDevice(f.Get("devices")[i], Item("devices", i), site.ports, interval));
}

void CheckSite(const Site& site) {
  RequireUnique<PortSettings>(site.ports, "ports", "name",
                              [](const PortSettings& p) { return "\"" + p.name + "\""; });
  // Two ports on one serial device would talk over each other.
  RequireUnique<PortSettings>(site.ports, "ports", "path", [](const PortSettings& p) {
    return p.sim ? "simulated port " + p.name : p.path;
  });
  RequireUnique<DeviceSettings>(site.devices, "devices", "name",
                                [](const DeviceSettings& d) { return "\"" + d.name + "\""; });
  RequireUnique<DeviceSettings>(site.devices, "devices", "data_id", [](const DeviceSettings& d) {
    return "data id " + std::to_string(d.data_id);
  });
  RequireUnique<DeviceSettings>(site.devices, "devices", "address", [&](const DeviceSettings& d) {
    return "address " + std::to_string(d.address) + " on port \"" + site.ports[d.port].name + "\"";
  });
  CheckPeers(site.devices);
}

}  // namespace

SiteError::SiteError(const std::string& origin, const std::string& where,
                     const std::string& problem)
    : std::runtime_error(origin + ": " + where + ": " + problem),
      where_(where),
      problem_(problem) {}

Site ParseSite(const Json::Value& root, const std::string& origin, const std::string& base_dir) {
  Site site;
  site.origin = origin;
  try {
    ReadRoot(site, root, base_dir);
    CheckSite(site);
  } catch (const FieldError& e) {
    throw SiteError(origin, e.where(), e.problem());
  }
  AddSimMonitors(site);
  return site;
}

namespace {

Json::Value ReadJson(std::istream& in, const std::string& origin) {
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  builder["stackLimit"] = kMaxJsonDepth;
  Json::Value root;
  std::string errors;
  bool parsed = false;
  try {
    parsed = Json::parseFromStream(builder, in, &root, &errors);
  } catch (const Json::Exception&) {
    // The parser's only throw: nesting beyond the stack limit.
    throw SiteError(origin, "(syntax)",
                    "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  }
  if (!parsed) {
    while (!errors.empty() && (errors.back() == '\n' || errors.back() == ' ')) errors.pop_back();
    throw SiteError(origin, "(syntax)", errors);
  }
  return root;
}

}  // namespace

Json::Value ParseSiteJson(const std::string& text, const std::string& origin) {
  // The parser's strict mode still skips comments between an object's
  // members: they are refused here, where they stand.
  if (const std::optional<support::TextPlace> at = support::FindJsonComment(text))
    throw SiteError(origin, "(syntax)",
                    "line " + std::to_string(at->line) + ", column " + std::to_string(at->column) +
                        ": a comment; JSON has none, remove it");
  std::istringstream in(text);
  return ReadJson(in, origin);
}

namespace {

// The whole file, which must be a regular file of sane size: a FIFO would
// block the host, /dev/zero would never end.
std::string ReadSiteText(const std::string& path) {
  try {
    return support::ReadBoundedFile(path, kMaxSiteFileBytes, "a site file");
  } catch (const support::FileError& e) {
    throw SiteError(path, "(file)", e.problem());
  }
}

}  // namespace

std::string SiteName(const std::string& origin) {
  std::string name = origin.substr(origin.find_last_of('/') + 1);
  const std::size_t dot = name.rfind('.');
  return dot == 0 || dot == std::string::npos ? name : name.substr(0, dot);
}

Site LoadSiteFile(const std::string& path) {
  const Json::Value root = ParseSiteJson(ReadSiteText(path), path);
  const std::size_t slash = path.find_last_of('/');
  return ParseSite(root, path, slash == std::string::npos ? "" : path.substr(0, slash));
}

}  // namespace runner
