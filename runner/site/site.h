#pragma once
// A site: the plug-in, the serial ports, the devices on them and the host's
// own settings, read from a JSON site file or built
// in for the demo. Everything is checked before any port is opened.
//
//   runner::Site site = runner::LoadSiteFile("bench.json");   // throws SiteError

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <json/value.h>

#include "host/device_contract.h"
#include "runner/alarms/alarm_limits.h"
#include "runner/alarms/health_limits.h"
#include "runner/site/metrics_address.h"
#include "runner/site/mqtt_settings.h"
#include "sim/bus.h"

namespace runner {

// A site that cannot run. what() is "<file>: <json path>: <problem>", e.g.
// "bench.json: devices[1].address: must be a whole number in 0..255, got 300".
class SiteError : public std::runtime_error {
 public:
  SiteError(const std::string& origin, const std::string& where, const std::string& problem);
  const std::string& where() const { return where_; }
  const std::string& problem() const { return problem_; }

 private:
  std::string where_;
  std::string problem_;
};

struct PortSettings {
  std::string name;
  std::string path;                   // serial device; empty for a simulated port
  std::optional<sim::BusConfig> sim;  // set: the host serves this bus on a pseudo-terminal
  bool monitor_per_device = false;    // sim: one monitor per device, at its address
  Json::Value sim_source;             // the "sim" object as written: a reload compares it
};

struct DeviceSettings {
  std::string name;
  unsigned data_id = 0;
  unsigned address = 0;  // configured bus address; the device adds 0x80 on the wire
  std::size_t port = 0;  // index into Site::ports
  Json::Value config;    // handed to the device's InitSetting unchanged
  LimitTable limits;
  HealthLimits health;
  unsigned save_interval_minutes = 0;  // history interval in force for this device
  std::vector<unsigned> peer_ids;      // data ids whose group voltage it adds

  std::uint8_t WireAddress() const {
    return static_cast<std::uint8_t>(address + qorv::kBusAddressOffset);
  }
};

struct Site {
  std::string origin;  // the file, or a name for a built-in site
  std::string plugin;  // plug-in file; empty: the built one
  double poll_period_s = 1.0;
  unsigned reply_timeout_ms = 200;
  std::string history_db;                 // empty: the site keeps no history ("history_db": null)
  std::optional<MqttSettings> mqtt;       // where rounds are published; none: not published
  std::optional<MetricsAddress> metrics;  // where metrics are served over HTTP; none: not served
  std::vector<PortSettings> ports;
  std::vector<DeviceSettings> devices;
};

// The site's name: "bench" for "/etc/qorv-host/bench.json".
std::string SiteName(const std::string& origin);

// Reads and checks a site file. Relative paths in it (plug-in, history
// database) are taken from the file's directory.
Site LoadSiteFile(const std::string& path);

// Reads JSON text strictly (no comments, no duplicate keys); a syntax error
// is a SiteError naming `origin`.
Json::Value ParseSiteJson(const std::string& text, const std::string& origin);

// Checks a site given as JSON; `origin` names it in errors, relative paths
// are resolved against `base_dir`.
Site ParseSite(const Json::Value& root, const std::string& origin, const std::string& base_dir);

}  // namespace runner
