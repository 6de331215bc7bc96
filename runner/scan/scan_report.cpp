#include "runner/scan/scan_report.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace runner::scan {
namespace {

constexpr const char* kSitePortName = "line";

std::string WireByteText(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// Whole milli-units: enough for a voltage or a time, and stable in text.
double Rounded(double value) {
  return static_cast<double>(static_cast<long long>(value * 1000.0 + (value < 0 ? -0.5 : 0.5))) /
         1000.0;
}

// A single-monitor simulator setting as a bus with a "monitors" list: in a
// site, a simulated port without one gets a monitor per device instead.
Json::Value SimBusJson(const Json::Value& sim) {
  if (!sim.isObject() || sim.isMember("monitors")) return sim;
  Json::Value bus(Json::objectValue);
  Json::Value monitor = sim;
  for (const char* key : {"seed", "pace"})
    if (monitor.isMember(key)) {
      bus[key] = monitor[key];
      monitor.removeMember(key);
    }
  bus["monitors"].append(monitor);
  return bus;
}

std::string Joined(const std::vector<std::string>& items) {
  std::map<std::string, unsigned> counted;
  for (const std::string& item : items) ++counted[item];
  std::string text;
  for (const auto& [item, count] : counted)
    text += (text.empty() ? "" : ", ") + (count > 1 ? std::to_string(count) + " x " : "") + item;
  return text;
}

// What the table cannot show: monitors that answered only a later try,
// replies refused, replies that came while another address was polled.
std::string Notes(const ScanReport& report) {
  std::string text;
  for (const FoundMonitor& m : report.found)
    if (m.polls > m.answers)
      text += "address " + std::to_string(m.address) + ": answered only try " +
              std::to_string(m.polls) + " of " + std::to_string(report.settings.tries) +
              ": a weak or noisy line\n";
  for (const auto& [address, reasons] : report.refused)
    text += "address " + std::to_string(address) + ": " + std::to_string(reasons.size()) +
            (reasons.size() == 1 ? " reply" : " replies") + " refused (" + Joined(reasons) +
            "): wiring, termination or two monitors on one address?\n";
  for (const auto& [address, count] : report.heard_late)
    text += "address " + std::to_string(address) + ": " + std::to_string(count) +
            (count == 1 ? " reply" : " replies") +
            " heard while another address was polled: slower than --timeout-ms?\n";
  return text;
}

}  // namespace

std::string FormatTable(const ScanReport& report) {
  std::string text = "address  wire  reply ms  answered  cells in window  string V\n";
  char line[128];
  for (const FoundMonitor& m : report.found) {
    const std::string answered = std::to_string(m.answers) + "/" + std::to_string(m.polls);
    std::string cells = "-", volts = "-";
    if (m.reading) {
      cells = std::to_string(m.reading->cells_in_window) + "/" + std::to_string(m.reading->cells);
      char v[32];
      std::snprintf(v, sizeof v, "%.2f", static_cast<double>(m.reading->string_volts));
      volts = v;
    }
    std::snprintf(line, sizeof line, "%7u  %s  %8.1f  %8s  %15s  %8s\n", m.address,
                  WireByteText(m.wire_byte).c_str(), m.reply_ms, answered.c_str(), cells.c_str(),
                  volts.c_str());
    text += line;
  }
  return text + Notes(report);
}

Json::Value ReportJson(const ScanReport& report) {
  Json::Value root(Json::objectValue);
  root["port"] = report.port;
  root["from"] = report.settings.from;
  root["to"] = report.settings.to;
  root["tries"] = report.settings.tries;
  root["timeout_ms"] = static_cast<Json::Int64>(report.settings.reply_timeout.count());
  root["addresses_polled"] = report.addresses_polled;
  root["duration_ms"] = static_cast<Json::Int64>(report.took.count());
  root["monitors"] = Json::Value(Json::arrayValue);
  for (const FoundMonitor& m : report.found) {
    Json::Value entry(Json::objectValue);
    entry["address"] = m.address;
    entry["wire_byte"] = WireByteText(m.wire_byte);
    entry["reply_ms"] = Rounded(m.reply_ms);
    entry["answers"] = m.answers;
    entry["polls"] = m.polls;
    entry["answer_rate"] = Rounded(m.AnswerRate());
    entry["cells"] = m.reading ? Json::Value(m.reading->cells) : Json::Value();
    entry["cells_in_window"] = m.reading ? Json::Value(m.reading->cells_in_window) : Json::Value();
    entry["string_voltage"] =
        m.reading ? Json::Value(Rounded(m.reading->string_volts)) : Json::Value();
    root["monitors"].append(entry);
  }
  root["refused"] = Json::Value(Json::objectValue);
  for (const auto& [address, reasons] : report.refused)
    for (const std::string& why : reasons) root["refused"][std::to_string(address)].append(why);
  root["heard_late"] = Json::Value(Json::objectValue);
  for (const auto& [address, count] : report.heard_late)
    root["heard_late"][std::to_string(address)] = count;
  return root;
}

Json::Value SiteJson(const ScanReport& report, const SitePort& port) {
  Json::Value site(Json::objectValue);
  if (!port.plugin.empty()) site["plugin"] = port.plugin;
  Json::Value line(Json::objectValue);
  line["name"] = kSitePortName;
  if (port.path.empty()) {
    line["path"] = "sim";
    line["sim"] = SimBusJson(port.sim);
  } else {
    line["path"] = port.path;
  }
  site["ports"].append(line);
  site["devices"] = Json::Value(Json::arrayValue);
  unsigned data_id = 1;
  for (const FoundMonitor& m : report.found) {
    Json::Value device(Json::objectValue);
    device["name"] = "monitor-" + std::to_string(m.address);
    device["data_id"] = data_id++;
    device["address"] = m.address;
    device["port"] = kSitePortName;
    if (port.device_config.isObject() && !port.device_config.empty())
      device["config"] = port.device_config;
    site["devices"].append(device);
  }
  return site;
}

}  // namespace runner::scan
