#pragma once
// Home Assistant discovery: retained configuration messages that make each
// monitor one device with its sensors, without any set-up on that side.
//
//   DISCOVERY/sensor/GATEWAY/DEVICE_string_voltage/config
//   DISCOVERY/sensor/GATEWAY/DEVICE_cell_18/config
//   DISCOVERY/binary_sensor/GATEWAY/DEVICE_cell_alarm/config
//
// GATEWAY is the gateway's client id as a topic level, so every entity the
// gateway announced sits under one node and a device that left the site is
// found there: any configuration under the node that the current site does
// not announce is removed with an empty retained message.

#include <string>
#include <vector>

#include "runner/publish/mqtt_topics.h"

namespace runner::publish {

struct DiscoveryDevice {
  std::string name;               // its site name
  std::string model;              // the device type the plug-in reports
  std::vector<int> cell_numbers;  // its configured cells, numbered as in the string
};

struct DiscoverySettings {
  std::string prefix = "homeassistant";
  std::string gateway;  // the client id
  std::string version;  // the gateway's software version
  Topics topics;
};

struct RetainedMessage {
  std::string topic;
  std::string payload;  // empty: remove what is retained there
};

// Every configuration message of `device`.
std::vector<RetainedMessage> DiscoveryOf(const DiscoveryDevice& device,
                                         const DiscoverySettings& settings);

// The filter that brings back every configuration the gateway announced.
std::string AnnouncedFilter(const DiscoverySettings& settings);

// Home Assistant's own status topic: "online" asks for discovery again.
std::string HomeAssistantStatus(const DiscoverySettings& settings);

}  // namespace runner::publish
