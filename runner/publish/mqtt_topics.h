#pragma once
// Where the gateway publishes, under its topic prefix:
//
//   PREFIX/status               the gateway's own "online"/"offline" (its will)
//   PREFIX/DEVICE/state         one message per completed round
//   PREFIX/DEVICE/availability  "online", "stale" or "offline", retained
//   PREFIX/DEVICE/alarm         each raise and clear as it happens
//   PREFIX/DEVICE/alarms        the active alarms, retained
//
// DEVICE is the device's site name as a topic level: letters, digits, '-'
// and '_' kept, anything else (a space, '/', '+', '#') written '_'.

#include <string>

namespace runner::publish {

std::string TopicLevel(const std::string& name);

struct Topics {
  std::string prefix;

  std::string Status() const { return prefix + "/status"; }
  std::string State(const std::string& device) const { return Device(device) + "/state"; }
  std::string Availability(const std::string& device) const {
    return Device(device) + "/availability";
  }
  std::string Alarm(const std::string& device) const { return Device(device) + "/alarm"; }
  std::string Alarms(const std::string& device) const { return Device(device) + "/alarms"; }

 private:
  std::string Device(const std::string& device) const { return prefix + "/" + TopicLevel(device); }
};

}  // namespace runner::publish
