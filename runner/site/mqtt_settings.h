#pragma once
// The site file's "mqtt" object: the broker the host publishes its rounds to, and how.
//
//   "mqtt": {"url": "mqtts://broker.example:8883", "username": "site-7",
//            "password_file": "/etc/qorv-host/mqtt.pass", "ca_file": "ca.pem",
//            "qos": 1, "topic_prefix": "halvex", "discovery_prefix": "homeassistant",
//            "backlog_hours": 24}
//
// Only "url" is required. The password is read from its file when the site
// is loaded (never from the command line) and refused when others than its
// owner may read the file.

#include <optional>
#include <stdexcept>
#include <string>

#include <json/value.h>

namespace runner {

struct BrokerUrl {
  bool tls = false;  // mqtts://
  std::string host;
  int port = 1883;

  std::string HostPort() const { return host + ":" + std::to_string(port); }
};

// "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]" (1883 and 8883 by default);
// throws std::invalid_argument saying what is wrong.
BrokerUrl ParseBrokerUrl(const std::string& text);

struct MqttSettings {
  BrokerUrl broker;
  std::string client_id;  // "qorv-HOST-SITE" unless given
  std::string username;
  std::string password;  // read from password_file
  std::string password_file;
  std::string ca_file;
  std::string cert_file;
  std::string key_file;
  int qos = 1;
  std::string topic_prefix = "halvex";
  std::optional<std::string> discovery_prefix = std::string("homeassistant");  // none: off
  double backlog_hours = 24;  // older messages kept for the broker are not sent
};

// "qorv-HOST-SITE": the machine's host name and the site's name, as MQTT
// client ids allow them (letters, digits, '-'), at most 64 characters.
std::string DefaultClientId(const std::string& site_name);

namespace internal {
// Reads the "mqtt" object at `where`; relative file names are taken from
// `base_dir`. Throws support::PathError with the key's path.
MqttSettings ReadMqttSettings(const Json::Value& object, const std::string& where,
                              const std::string& base_dir, const std::string& site_name);
}  // namespace internal

}  // namespace runner
