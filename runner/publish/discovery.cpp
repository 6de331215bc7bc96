#include "runner/publish/discovery.h"

#include <json/value.h>

#include "runner/publish/round_messages.h"
#include "support/json_path.h"

namespace runner::publish {
namespace {

struct Measure {
  std::string key;    // the entity's part of its object id
  std::string name;   // as Home Assistant shows it under the device
  std::string field;  // the state message's value, as a template path
  std::string unit;   // unit_of_measurement
  std::string klass;  // device_class
};

// A rounds' message that is a backlog keeps the entity's state as it is:
// the old rounds are history, not the present.
std::string Template(const std::string& field) {
  return "{% if value_json.backlog %}{{ this.state }}{% else %}{{ value_json." + field +
         " }}{% endif %}";
}

std::string FamilyName(const std::string& family) {
  std::string name = family;
  for (char& c : name)
    if (c == '_') c = ' ';
  name[0] = static_cast<char>(name[0] - 'a' + 'A');
  return name + " alarm";
}

Json::Value Common(const DiscoveryDevice& device, const DiscoverySettings& s,
                   const std::string& key, const std::string& name) {
  const std::string level = TopicLevel(device.name);
  Json::Value out(Json::objectValue);
  out["name"] = name;
  out["unique_id"] = TopicLevel(s.gateway) + "_" + level + "_" + key;
  out["object_id"] = level + "_" + key;
  Json::Value gateway(Json::objectValue);
  gateway["topic"] = s.topics.Status();
  Json::Value own(Json::objectValue);
  own["topic"] = s.topics.Availability(device.name);
  // "stale" and "offline" both make the entities unavailable.
  own["value_template"] = "{{ 'online' if value == 'online' else 'offline' }}";
  out["availability"].append(gateway);
  out["availability"].append(own);
  out["availability_mode"] = "all";
  Json::Value dev(Json::objectValue);
  dev["identifiers"].append(TopicLevel(s.gateway) + "_" + level);
  dev["name"] = device.name;
  dev["model"] = device.model;
  dev["sw_version"] = s.version;
  out["device"] = dev;
  return out;
}

std::string ConfigTopic(const DiscoverySettings& s, const char* component,
                        const DiscoveryDevice& device, const std::string& key) {
  return s.prefix + "/" + component + "/" + TopicLevel(s.gateway) + "/" + TopicLevel(device.name) +
         "_" + key + "/config";
}

}  // namespace

std::vector<RetainedMessage> DiscoveryOf(const DiscoveryDevice& device,
                                         const DiscoverySettings& s) {
  std::vector<Measure> measures{
      {"string_voltage", "String voltage", "group_voltage", "V", "voltage"},
      {"current", "Current", "group_current", "A", "current"},
      {"temperature", "Temperature", "temperature", "°C", "temperature"},
      {"min_cell", "Lowest cell", "min.volts", "V", "voltage"},
      {"max_cell", "Highest cell", "max.volts", "V", "voltage"},
      {"spread", "Cell spread", "spread_mv", "mV", "voltage"},
      {"sigma", "Cell sigma", "sigma_mv", "mV", "voltage"},
  };
  for (const int n : device.cell_numbers)
    measures.push_back({"cell_" + std::to_string(n), "Cell " + std::to_string(n),
                        "cells['" + std::to_string(n) + "']", "V", "voltage"});

  std::vector<RetainedMessage> out;
  for (const Measure& m : measures) {
    Json::Value config = Common(device, s, m.key, m.name);
    config["state_topic"] = s.topics.State(device.name);
    config["value_template"] = Template(m.field);
    config["unit_of_measurement"] = m.unit;
    config["device_class"] = m.klass;
    config["state_class"] = "measurement";
    out.push_back({ConfigTopic(s, "sensor", device, m.key), support::OneLine(config)});
  }
  for (const std::string& family : AlarmFamilies()) {
    const std::string key = family + "_alarm";
    Json::Value config = Common(device, s, key, FamilyName(family));
    config["state_topic"] = s.topics.Alarms(device.name);
    config["value_template"] = "{{ 'ON' if value_json | selectattr('family', 'equalto', '" +
                               family + "') | list | length > 0 else 'OFF' }}";
    config["device_class"] = "problem";
    out.push_back({ConfigTopic(s, "binary_sensor", device, key), support::OneLine(config)});
  }
  return out;
}

std::string AnnouncedFilter(const DiscoverySettings& s) {
  return s.prefix + "/+/" + TopicLevel(s.gateway) + "/+/config";
}

std::string HomeAssistantStatus(const DiscoverySettings& s) { return s.prefix + "/status"; }

}  // namespace runner::publish
