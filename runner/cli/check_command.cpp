#include "runner/cli/check_command.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "runner/history/history_store.h"
#include "runner/lines/poller.h"
#include "runner/lines/serial_port.h"
#include "runner/plugin_access/plugin_library.h"
#include "runner/plugin_access/serial_settings.h"
#include "runner/publish/mqtt_client.h"
#include "runner/view/output_split.h"

namespace runner {
namespace {

class CheckReport {
 public:
  explicit CheckReport(std::ostream& out) : out_(out) {}

  void Ok(const std::string& item, const std::string& detail) {
    out_ << item << ": ok" << (detail.empty() ? "" : " (" + detail + ")") << std::endl;
  }
  void Failed(const std::string& item, const std::string& reason) {
    out_ << item << ": " << reason << std::endl;
    ++failed_;
  }
  int Status() const { return failed_ == 0 ? 0 : 1; }

 private:
  std::ostream& out_;
  int failed_ = 0;
};

std::string SkipReason(const Poller& poller, const std::string& device) {
  for (const auto& [name, why] : poller.skipped())
    if (name == device) return why;
  return "";
}

// The plug-in loaded and the devices configured as a start does it. False
// when the plug-in is not usable.
bool CheckDevices(Poller& poller, CheckReport& report) {
  std::string plugin_trouble;
  std::string trouble;  // what else stopped the configuration, besides refusals
  {
    // The devices' own lines ("InitSetting 1 ...") would mix with the items.
    OutputSplit quiet("/dev/null");
    try {
      poller.Configure();
    } catch (const qorv::PluginError& e) {
      plugin_trouble = e.what();
    } catch (const std::exception& e) {
      trouble = e.what();
    }
  }
  if (!plugin_trouble.empty()) {
    report.Failed("plug-in", plugin_trouble);
    return false;
  }
  report.Ok("plug-in", poller.PluginPath());
  for (const DeviceSettings& d : poller.site().devices) {
    const std::string item = "device " + d.name + " (data id " + std::to_string(d.data_id) + ")";
    const std::string skipped = SkipReason(poller, d.name);
    if (poller.FindDevice(d.name) != nullptr)
      report.Ok(item, "");
    else
      report.Failed(item, !skipped.empty() ? skipped : trouble.empty() ? "not created" : trouble);
  }
  return true;
}

const DeviceSlot* FirstDeviceOn(const Poller& poller, std::size_t port) {
  for (const auto& slot : poller.devices())
    if (slot->settings.port == port) return slot.get();
  return nullptr;
}

bool AnyDeviceOn(const Site& site, std::size_t port) {
  for (const DeviceSettings& d : site.devices)
    if (d.port == port) return true;
  return false;
}

// Each line opened and claimed as a start opens it, at its first device's
// speed, and let go at once.
void CheckPorts(const Poller& poller, CheckReport& report) {
  const Site& site = poller.site();
  for (std::size_t i = 0; i < site.ports.size(); ++i) {
    const PortSettings& port = site.ports[i];
    const std::string item = "port " + port.name;
    const DeviceSlot* first = FirstDeviceOn(poller, i);
    if (port.sim) {
      report.Ok(item, "simulated");
    } else if (!AnyDeviceOn(site, i)) {
      report.Ok(item, "no device on it; not opened");
    } else if (first == nullptr) {
      report.Failed(item, port.path + " not tried: none of its devices is configured");
    } else {
      SerialPort line(port.path, plugin_access::BaudRate(*first->device));
      if (line.is_open())
        report.Ok(item, port.path);
      else
        report.Failed(item, line.error());
    }
  }
}

// The database opened for writing as a start opens it; one that does not
// exist yet must be creatable in its folder (tried with a scratch file,
// so the check leaves no empty database behind).
void CheckHistory(const std::string& db, CheckReport& report) {
  if (db.empty()) {
    report.Ok("history", "none kept: \"history_db\" is null");
    return;
  }
  std::error_code ignored;
  if (std::filesystem::exists(db, ignored)) {
    try {
      HistoryStore::Open(db);
      report.Ok("history", db);
    } catch (const HistoryError& e) {
      report.Failed("history", e.what());
    }
    return;
  }
  const std::string folder = std::filesystem::path(db).parent_path().string();
  std::string scratch = (folder.empty() ? "." : folder) + "/.qorv-check-XXXXXX";
  const int fd = ::mkstemp(scratch.data());
  if (fd < 0) {
    report.Failed("history", db + ": cannot be created: " + std::strerror(errno));
    return;
  }
  ::close(fd);
  ::unlink(scratch.c_str());
  report.Ok("history", db + ", to be created");
}

// One connect with the site's credentials and TLS settings, under a client
// id of its own: the site's connection, when it is up, is not taken over.
void CheckBroker(const std::optional<MqttSettings>& mqtt, std::chrono::milliseconds wait,
                 CheckReport& report) {
  if (!mqtt) {
    report.Ok("broker", "none: rounds are not published");
    return;
  }
  MqttSettings settings = *mqtt;
  settings.client_id += "-check";
  publish::MqttClient client(settings, false);
  try {
    client.Start();
  } catch (const std::exception& e) {
    report.Failed("broker", e.what());
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  publish::MqttState state = client.State();
  while (!state.connected && state.last_error.empty() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    state = client.State();
  }
  if (state.connected)
    report.Ok("broker", settings.broker.HostPort());
  else if (!state.last_error.empty())
    report.Failed("broker", state.last_error);
  else
    report.Failed("broker", settings.broker.HostPort() + " did not answer within " +
                                std::to_string(wait.count()) + " ms");
}

}  // namespace

int RunCheck(const std::string& path, const CheckOptions& options, std::ostream& out) {
  CheckReport report(out);
  std::optional<Site> site;
  try {
    site = LoadSiteFile(path);
    ApplyOverrides(options.overrides, *site);
  } catch (const std::exception& e) {
    report.Failed("site", e.what());
    return report.Status();
  }
  report.Ok("site", path);
  const std::string history_db = site->history_db;
  const std::optional<MqttSettings> mqtt = site->mqtt;
  PollerOptions poller_options;
  poller_options.default_plugin = options.default_plugin;
  poller_options.keep_history = false;  // checked on its own, without writing a row
  Poller poller(std::move(*site), poller_options);
  if (CheckDevices(poller, report)) CheckPorts(poller, report);
  CheckHistory(history_db, report);
  CheckBroker(mqtt, options.broker_wait, report);
  return report.Status();
}

}  // namespace runner
