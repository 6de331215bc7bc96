#include "runner/site/mqtt_settings.h"

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "runner/site/site.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

using halvex::testing::TestFolder;

Json::Value SiteWith(const Json::Value& mqtt) {
  Json::Value root = ParseSiteJson(R"({
    "ports": [{"name": "p", "path": "/dev/ttyUSB0"}],
    "devices": [{"name": "A", "data_id": 1, "address": 1, "port": "p"}]})",
                                   "test");
  root["mqtt"] = mqtt;
  return root;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path) << text;
  ::chmod(path.c_str(), mode);
}

TEST(MqttSettingsTest, BrokerUrls) {
  struct Case {
    const char* text;
    bool tls;
    const char* host;
    int port;
  };
  const Case good[] = {
      {"mqtt://broker", false, "broker", 1883},
      {"mqtts://broker", true, "broker", 8883},
      {"mqtt://10.0.0.5:1884/", false, "10.0.0.5", 1884},
      {"mqtts://[::1]:65535", true, "::1", 65535},
      {"mqtt://[fe80::1]", false, "fe80::1", 1883},
  };
  for (const Case& c : good) {
    SCOPED_TRACE(c.text);
    const BrokerUrl url = ParseBrokerUrl(c.text);
    EXPECT_EQ(url.tls, c.tls);
    EXPECT_EQ(url.host, c.host);
    EXPECT_EQ(url.port, c.port);
  }
  for (const char* bad : {"broker:1883", "http://broker", "mqtt://", "mqtt://:1883",
                          "mqtt://broker:0", "mqtt://broker:70000", "mqtt://broker:",
                          "mqtt://b:+80", "mqtt://user@broker", "mqtt://broker/topic"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseBrokerUrl(bad), std::invalid_argument);
  }
}

TEST(MqttSettingsTest, RefusalsNameTheKey) {
  TestFolder folder;
  WriteFile(folder / "secret", "pw\n", 0600);
  WriteFile(folder / "open", "pw\n", 0644);
  WriteFile(folder / "cert.pem", "x", 0644);
  ::mkdir((folder / "dir").c_str(), 0700);
  struct BadCase {
    const char* name;
    std::function<void(Json::Value&)> spoil;
    const char* where;
    const char* problem;
  };
  const BadCase cases[] = {
      {"not an object", [](Json::Value& m) { m = "mqtt://b"; }, "mqtt", ""},
      {"no url", [](Json::Value& m) { m.removeMember("url"); }, "mqtt.url", ""},
      {"bad scheme", [](Json::Value& m) { m["url"] = "tcp://b"; }, "mqtt.url", "mqtt://"},
      {"port 0", [](Json::Value& m) { m["url"] = "mqtt://b:0"; }, "mqtt.url", "1..65535"},
      {"port 70000", [](Json::Value& m) { m["url"] = "mqtt://b:70000"; }, "mqtt.url", "1..65535"},
      {"missing password file", [](Json::Value& m) { m["password_file"] = "nothing"; },
       "mqtt.password_file", "nothing"},
      {"password file not a file", [](Json::Value& m) { m["password_file"] = "dir"; },
       "mqtt.password_file", "dir"},
      {"world-readable password file", [](Json::Value& m) { m["password_file"] = "open"; },
       "mqtt.password_file", "644"},
      {"password without a user",
       [](Json::Value& m) {
         m.removeMember("username");
         m["password_file"] = "secret";
       },
       "mqtt.password_file", "username"},
      {"unknown key", [](Json::Value& m) { m["retain"] = true; }, "mqtt.retain", ""},
      {"qos 3", [](Json::Value& m) { m["qos"] = 3; }, "mqtt.qos", "3 is not 0, 1 or 2"},
      {"qos as text", [](Json::Value& m) { m["qos"] = "1"; }, "mqtt.qos", "not 0, 1 or 2"},
      {"cert without key", [](Json::Value& m) { m["cert_file"] = "cert.pem"; }, "mqtt.cert_file",
       "together"},
      {"key without cert", [](Json::Value& m) { m["key_file"] = "cert.pem"; }, "mqtt.key_file",
       "together"},
      {"tls files without mqtts",
       [](Json::Value& m) {
         m["url"] = "mqtt://b";
         m["ca_file"] = "cert.pem";
       },
       "mqtt.ca_file", "mqtts://"},
      {"missing ca file", [](Json::Value& m) { m["ca_file"] = "ca.pem"; }, "mqtt.ca_file",
       "ca.pem"},
      {"wildcard prefix", [](Json::Value& m) { m["topic_prefix"] = "site/#"; }, "mqtt.topic_prefix",
       "'#'"},
      {"prefix ending in /", [](Json::Value& m) { m["topic_prefix"] = "site/"; },
       "mqtt.topic_prefix", "'/'"},
      {"discovery true", [](Json::Value& m) { m["discovery_prefix"] = true; },
       "mqtt.discovery_prefix", "false"},
      {"backlog 0", [](Json::Value& m) { m["backlog_hours"] = 0; }, "mqtt.backlog_hours", ""},
      {"backlog over a year", [](Json::Value& m) { m["backlog_hours"] = 8761; },
       "mqtt.backlog_hours", ""},
      {"client id too long", [](Json::Value& m) { m["client_id"] = std::string(65, 'c'); },
       "mqtt.client_id", "64"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    Json::Value mqtt;
    mqtt["url"] = "mqtts://broker";
    mqtt["username"] = "u";
    c.spoil(mqtt);
    try {
      ParseSite(SiteWith(mqtt), "bench.json", folder.path());
      ADD_FAILURE() << "accepted";
    } catch (const SiteError& e) {
      EXPECT_EQ(e.where(), c.where) << e.what();
      EXPECT_NE(e.problem().find(c.problem), std::string::npos) << e.problem();
    }
  }
}

TEST(MqttSettingsTest, AGoodObjectAndItsDefaults) {
  TestFolder folder;
  WriteFile(folder / "secret", "s3cret\n", 0600);
  WriteFile(folder / "ca.pem", "x", 0644);
  WriteFile(folder / "c.pem", "x", 0644);
  WriteFile(folder / "k.pem", "x", 0600);
  Json::Value mqtt;
  mqtt["url"] = "mqtts://broker.example";
  mqtt["username"] = "site-7";
  mqtt["password_file"] = "secret";
  mqtt["ca_file"] = "ca.pem";
  mqtt["cert_file"] = "c.pem";
  mqtt["key_file"] = folder / "k.pem";
  mqtt["qos"] = 2;
  mqtt["topic_prefix"] = "plant/ups";
  mqtt["discovery_prefix"] = false;
  mqtt["backlog_hours"] = 0.5;
  const MqttSettings s = *ParseSite(SiteWith(mqtt), "/etc/bench.json", folder.path()).mqtt;
  EXPECT_TRUE(s.broker.tls);
  EXPECT_EQ(s.broker.HostPort(), "broker.example:8883");
  EXPECT_EQ(s.password, "s3cret");
  EXPECT_EQ(s.ca_file, folder / "ca.pem");
  EXPECT_EQ(s.cert_file, folder / "c.pem");
  EXPECT_EQ(s.key_file, folder / "k.pem");
  EXPECT_EQ(s.qos, 2);
  EXPECT_EQ(s.topic_prefix, "plant/ups");
  EXPECT_FALSE(s.discovery_prefix.has_value());
  EXPECT_DOUBLE_EQ(s.backlog_hours, 0.5);

  Json::Value least;
  least["url"] = "mqtt://broker";
  const MqttSettings d = *ParseSite(SiteWith(least), "/etc/bench.json", "").mqtt;
  EXPECT_EQ(d.qos, 1);
  EXPECT_EQ(d.topic_prefix, "halvex");
  EXPECT_EQ(d.discovery_prefix, "homeassistant");
  EXPECT_DOUBLE_EQ(d.backlog_hours, 24);
  EXPECT_EQ(d.client_id.rfind("qorv-", 0), 0u);
  EXPECT_EQ(d.client_id.substr(d.client_id.size() - 6), "-bench");
  EXPECT_LE(d.client_id.size(), 64u);
  EXPECT_LE(DefaultClientId(std::string(100, 's')).size(), 64u);
  EXPECT_FALSE(ParseSite(SiteWith(Json::nullValue), "s.json", "").mqtt.has_value());
}

}  // namespace
}  // namespace runner
