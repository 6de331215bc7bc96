#include "runner/lines/site_reload.h"

#include <map>
#include <optional>

namespace runner {
namespace {

bool SameLevels(const std::optional<HealthLevels>& a, const std::optional<HealthLevels>& b) {
  if (!a || !b) return !a && !b;
  return a->warning_mv == b->warning_mv && a->critical_mv == b->critical_mv &&
         a->hysteresis_mv == b->hysteresis_mv;
}

bool SameLimits(const DeviceSettings& a, const DeviceSettings& b) {
  const std::vector<Limit>& x = a.limits.limits();
  const std::vector<Limit>& y = b.limits.limits();
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (x[i].name != y[i].name || x[i].low != y[i].low || x[i].high != y[i].high ||
        x[i].hysteresis != y[i].hysteresis)
      return false;
  return SameLevels(a.health.deviation, b.health.deviation) &&
         a.health.deviation_cells == b.health.deviation_cells &&
         SameLevels(a.health.spread, b.health.spread);
}

// Everything but the limits: a difference here needs a new device object.
bool SameDevice(const Site& before, const DeviceSettings& a, const Site& after,
                const DeviceSettings& b) {
  return a.data_id == b.data_id && a.address == b.address &&
         before.ports[a.port].name == after.ports[b.port].name && a.config == b.config &&
         a.save_interval_minutes == b.save_interval_minutes;
}

std::vector<unsigned> MonitorAddresses(const PortSettings& port) {
  std::vector<unsigned> out;
  if (port.sim)
    for (const sim::MonitorSetup& m : port.sim->monitors) out.push_back(m.profile.address);
  return out;
}

bool SamePort(const PortSettings& a, const PortSettings& b) {
  return a.path == b.path && a.sim.has_value() == b.sim.has_value() &&
         a.sim_source == b.sim_source && MonitorAddresses(a) == MonitorAddresses(b);
}

bool SameMqtt(const std::optional<MqttSettings>& a, const std::optional<MqttSettings>& b) {
  if (!a || !b) return !a && !b;
  return a->broker.tls == b->broker.tls && a->broker.host == b->broker.host &&
         a->broker.port == b->broker.port && a->client_id == b->client_id &&
         a->username == b->username && a->password == b->password &&
         a->password_file == b->password_file && a->ca_file == b->ca_file &&
         a->cert_file == b->cert_file && a->key_file == b->key_file && a->qos == b->qos &&
         a->topic_prefix == b->topic_prefix && a->discovery_prefix == b->discovery_prefix &&
         a->backlog_hours == b->backlog_hours;
}

bool SameMetrics(const std::optional<MetricsAddress>& a, const std::optional<MetricsAddress>& b) {
  if (!a || !b) return !a && !b;
  return a->host == b->host && a->port == b->port;
}

std::string RestartOnly(const Site& before, const Site& after) {
  const char* key = before.plugin != after.plugin                 ? "plugin"
                    : before.history_db != after.history_db       ? "history_db"
                    : !SameMqtt(before.mqtt, after.mqtt)          ? "mqtt"
                    : !SameMetrics(before.metrics, after.metrics) ? "metrics"
                                                                  : nullptr;
  return key ? std::string(key) + ": cannot change while the host runs; restart it to apply"
             : std::string();
}

}  // namespace

std::string SiteChanges::Summary() const {
  return "site reloaded: " + std::to_string(kept.size()) + " kept, " +
         std::to_string(added.size()) + " added, " + std::to_string(removed.size()) + " removed, " +
         std::to_string(limits.size() + replaced.size()) + " changed";
}

SiteChanges DiffSites(const Site& before, const Site& after) {
  SiteChanges changes;
  changes.refused = RestartOnly(before, after);
  if (!changes.refused.empty()) return changes;
  std::map<std::string, const DeviceSettings*> old_devices;
  for (const DeviceSettings& d : before.devices) old_devices[d.name] = &d;
  for (const DeviceSettings& d : after.devices) {
    const auto found = old_devices.find(d.name);
    if (found == old_devices.end()) {
      changes.added.push_back(d.name);
      continue;
    }
    const DeviceSettings& old = *found->second;
    old_devices.erase(found);
    if (!SameDevice(before, old, after, d))
      changes.replaced.push_back(d.name);
    else if (!SameLimits(old, d))
      changes.limits.push_back(d.name);
    else
      changes.kept.push_back(d.name);
  }
  for (const DeviceSettings& d : before.devices)
    if (old_devices.count(d.name)) changes.removed.push_back(d.name);
  for (const PortSettings& p : after.ports)
    for (const PortSettings& old : before.ports)
      if (old.name == p.name && !SamePort(old, p)) changes.ports_reopened.push_back(p.name);
  return changes;
}

}  // namespace runner
