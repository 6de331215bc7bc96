#include "runner/publish/discovery.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

namespace runner::publish {
namespace {

Json::Value Parse(const std::string& text) {
  Json::Value value;
  std::istringstream in(text);
  std::string errors;
  EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &value, &errors)) << text;
  return value;
}

Json::Value Schema() {
  std::ifstream in(QORV_DISCOVERY_SCHEMA);
  std::stringstream text;
  text << in.rdbuf();
  return Parse(text.str());
}

bool HasType(const Json::Value& v, const std::string& type) {
  if (type == "string") return v.isString();
  if (type == "list") return v.isArray();
  if (type == "map") return v.isObject();
  if (type == "boolean") return v.isBool();
  if (type == "integer") return v.isInt();
  return false;
}

// Every key known to Home Assistant with its type, every required key given.
void CheckKeys(const Json::Value& object, const Json::Value& rule, const std::string& where) {
  for (const std::string& key : object.getMemberNames()) {
    ASSERT_TRUE(rule["options"].isMember(key)) << where << ": unknown option " << key;
    EXPECT_TRUE(HasType(object[key], rule["options"][key].asString())) << where << "." << key;
  }
  for (const Json::Value& key : rule["required"])
    EXPECT_TRUE(object.isMember(key.asString())) << where << ": no " << key.asString();
}

TEST(DiscoveryTest, TwoDevicesAnnounceWhatHomeAssistantDocuments) {
  const Json::Value schema = Schema();
  DiscoverySettings settings{"homeassistant", "qorv-gw/site 1", "0.1.0", Topics{"halvex"}};
  const std::vector<DiscoveryDevice> site{{"string-A", "HALVEX30", {1, 2, 3}},
                                          {"string B", "HALVEX30", {31, 32}}};
  std::set<std::string> topics, unique_ids;
  std::size_t sensors = 0, problems = 0;
  for (const DiscoveryDevice& device : site) {
    for (const RetainedMessage& m : DiscoveryOf(device, settings)) {
      SCOPED_TRACE(m.topic);
      EXPECT_NE(m.topic.find("/qorv-gw_site_1/"), std::string::npos) << "under the gateway's node";
      EXPECT_TRUE(topics.insert(m.topic).second) << "one topic per entity";
      const Json::Value config = Parse(m.payload);
      const bool binary = m.topic.find("/binary_sensor/") != std::string::npos;
      const Json::Value& rule = schema[binary ? "binary_sensor" : "sensor"];
      CheckKeys(config, rule, m.topic);
      CheckKeys(config["device"], schema["device"], "device");
      for (const Json::Value& a : config["availability"]) CheckKeys(a, schema["availability"], "");
      EXPECT_TRUE(unique_ids.insert(config["unique_id"].asString()).second);
      if (binary) {
        ++problems;
        EXPECT_EQ(config["device_class"], "problem");
        EXPECT_EQ(config["state_topic"], settings.topics.Alarms(device.name));
      } else {
        ++sensors;
        const Json::Value units = rule["device_class_units"][config["device_class"].asString()];
        ASSERT_TRUE(units.isArray()) << config["device_class"];
        EXPECT_NE(std::find(units.begin(), units.end(), config["unit_of_measurement"]),
                  units.end());
        EXPECT_EQ(config["state_topic"], settings.topics.State(device.name));
      }
      EXPECT_EQ(config["device"]["model"], "HALVEX30");
    }
  }
  EXPECT_EQ(sensors, 2 * 7 + 5u) << "7 string figures a device and one sensor per cell";
  EXPECT_EQ(problems, 2 * 7u) << "one problem sensor per alarm family";
  EXPECT_EQ(DiscoveryOf(site[1], settings)[0].payload, DiscoveryOf(site[1], settings)[0].payload);
  EXPECT_EQ(AnnouncedFilter(settings), "homeassistant/+/qorv-gw_site_1/+/config");
}

}  // namespace
}  // namespace runner::publish
