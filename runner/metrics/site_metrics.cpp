#include "runner/metrics/site_metrics.h"

#include "runner/metrics/exposition.h"
#include "runner/round/resolution.h"

namespace runner::metrics {
namespace {

constexpr MetricType kGauge = MetricType::kGauge;
constexpr MetricType kCounter = MetricType::kCounter;

constexpr DataState kStates[] = {DataState::kFresh, DataState::kStale, DataState::kNotReady,
                                 DataState::kOffline, DataState::kFailing};

// The same resolution as the JSON lines, so that the two agree.
double Volts(float v) { return Rounded(v, kVoltDecimals); }
double Cents(float v) { return Rounded(v, kCentDecimals); }
double MillivoltsAsVolts(double mv) { return Rounded(mv / 1000.0, kMillivoltDecimals + 3); }

Labels DeviceLabels(const DeviceMetrics& d) {
  return {{"device", d.name}, {"data_id", std::to_string(d.data_id)}, {"port", d.port}};
}

Labels With(Labels labels, const std::string& name, const std::string& value) {
  labels.emplace_back(name, value);
  return labels;
}

// One family over the devices: `value` gives a device's value, or nothing.
template <typename ValueOf>
void PerDevice(Exposition& out, const std::vector<DeviceMetrics>& devices, const char* name,
               const char* help, MetricType type, ValueOf value) {
  out.Family(name, help, type);
  for (const DeviceMetrics& d : devices)
    if (const std::optional<double> v = value(d)) out.Sample(DeviceLabels(d), *v);
}

// The readings and health of a device that stands by them.
const DeviceMetrics* Readings(const DeviceMetrics& d) { return d.from_record ? nullptr : &d; }

std::optional<double> Reading(const DeviceMetrics& d, std::optional<float> DeviceMetrics::*field,
                              double (*scale)(float)) {
  if (!Readings(d) || !(d.*field)) return std::nullopt;
  return scale(*(d.*field));
}

const StringHealth* Health(const DeviceMetrics& d) {
  return Readings(d) && d.health && !d.health->deviations.empty() ? &*d.health : nullptr;
}

void StateMetrics(Exposition& out, const std::vector<DeviceMetrics>& devices) {
  out.Family("qorv_device_state",
             "1 for the state the device's data is in (ok, stale, no data, offline, error), "
             "0 for the others.",
             kGauge);
  for (const DeviceMetrics& d : devices)
    for (DataState s : kStates)
      out.Sample(With(DeviceLabels(d), "state", DataStateName(s)), d.state == s ? 1 : 0);
  PerDevice(out, devices, "qorv_device_data_age_seconds",
            "Seconds since the device last published a record, by the host clock.", kGauge,
            [](const DeviceMetrics& d) -> std::optional<double> {
              if (!d.age_s) return std::nullopt;
              return static_cast<double>(*d.age_s);
            });
}

void ReadingMetrics(Exposition& out, const std::vector<DeviceMetrics>& devices) {
  out.Family("qorv_cell_voltage_volts", "Cell (block) voltage; cell is its number in the string.",
             kGauge);
  for (const DeviceMetrics& d : devices) {
    if (!Readings(d)) continue;
    for (std::size_t k = 0; k < d.cells.size(); ++k)
      if (d.cells[k])
        out.Sample(With(DeviceLabels(d), "cell",
                        std::to_string(d.first_cell_number + static_cast<int>(k))),
                   Volts(*d.cells[k]));
  }
  PerDevice(
      out, devices, "qorv_string_voltage_volts", "String voltage.", kGauge,
      [](const DeviceMetrics& d) { return Reading(d, &DeviceMetrics::string_voltage, Volts); });
  PerDevice(out, devices, "qorv_current_amperes", "String current; negative while discharging.",
            kGauge,
            [](const DeviceMetrics& d) { return Reading(d, &DeviceMetrics::current, Cents); });
  PerDevice(out, devices, "qorv_temperature_celsius", "Temperature at the monitor.", kGauge,
            [](const DeviceMetrics& d) { return Reading(d, &DeviceMetrics::temperature, Cents); });
}

void HealthMetrics(Exposition& out, const std::vector<DeviceMetrics>& devices) {
  using Figure = std::optional<double> (*)(const DeviceMetrics&);
  const struct {
    const char* name;
    const char* help;
    Figure figure;
  } figures[] = {
      {"qorv_health_cells", "Cells with a reading that the health figures take into account.",
       [](const DeviceMetrics& d) -> std::optional<double> {
         if (const StringHealth* h = Health(d)) return h->cells;
         return std::nullopt;
       }},
      {"qorv_cell_voltage_mean_volts", "Mean of the cell voltages.",
       [](const DeviceMetrics& d) -> std::optional<double> {
         if (const StringHealth* h = Health(d)) return Rounded(h->mean_v, kMeanVoltDecimals);
         return std::nullopt;
       }},
      {"qorv_cell_voltage_stddev_volts",
       "Population standard deviation (sigma) of the cell voltages.",
       [](const DeviceMetrics& d) -> std::optional<double> {
         if (const StringHealth* h = Health(d)) return MillivoltsAsVolts(h->sigma_mv);
         return std::nullopt;
       }},
      {"qorv_cell_voltage_spread_volts", "Highest less lowest cell voltage.",
       [](const DeviceMetrics& d) -> std::optional<double> {
         if (const StringHealth* h = Health(d)) return MillivoltsAsVolts(h->spread_mv);
         return std::nullopt;
       }},
  };
  for (const auto& f : figures) PerDevice(out, devices, f.name, f.help, kGauge, f.figure);
  out.Family("qorv_cell_worst_deviation_volts",
             "Deviation from the mean of the cell farthest from it; cell is its number.", kGauge);
  for (const DeviceMetrics& d : devices)
    if (const StringHealth* h = Health(d))
      out.Sample(With(DeviceLabels(d), "cell", std::to_string(h->Worst().number)),
                 MillivoltsAsVolts(h->Worst().deviation_mv));
}

void LinkMetrics(Exposition& out, const std::vector<DeviceMetrics>& devices) {
  using Count = std::uint64_t LinkCounters::*;
  const struct {
    const char* name;
    const char* help;
    Count count;
  } counts[] = {
      {"qorv_device_rounds_total", "Poll rounds the device completed.", &LinkCounters::rounds},
      {"qorv_device_resends_total", "Requests sent again.", &LinkCounters::resends},
      {"qorv_device_timeouts_total", "Requests the monitor did not answer in time.",
       &LinkCounters::timeouts},
      {"qorv_device_rejected_replies_total", "Replies refused as damaged or not the device's.",
       &LinkCounters::rejected},
  };
  for (const auto& c : counts)
    PerDevice(out, devices, c.name, c.help, kCounter,
              [&c](const DeviceMetrics& d) -> std::optional<double> {
                return static_cast<double>(d.link.*c.count);
              });
  PerDevice(out, devices, "qorv_device_round_duration_seconds",
            "How long the device's last timed poll round took.", kGauge,
            [](const DeviceMetrics& d) -> std::optional<double> {
              if (d.link.timed_rounds == 0) return std::nullopt;
              return static_cast<double>(d.link.last_round.count()) / 1e6;
            });
}

void AlarmMetrics(Exposition& out, const std::vector<DeviceMetrics>& devices) {
  PerDevice(out, devices, "qorv_device_active_alarms", "Alarms that hold now.", kGauge,
            [](const DeviceMetrics& d) -> std::optional<double> {
              return static_cast<double>(d.alarms.size());
            });
  out.Family("qorv_alarm_active",
             "1 for each alarm that holds: its value name, point and level (low, high, warning, "
             "critical).",
             kGauge);
  for (const DeviceMetrics& d : devices)
    for (const ActiveAlarm& a : d.alarms) {
      Labels labels = With(DeviceLabels(d), "alarm", a.name);
      labels.emplace_back("point", std::to_string(a.point));
      labels.emplace_back("level", AlarmKindName(a.kind));
      out.Sample(labels, 1);
    }
}

void StoreMetrics(Exposition& out, const StoreState& st) {
  out.Family("qorv_history_pending_rows", "History rows and alarm events waiting to be written.",
             kGauge);
  out.Sample({}, static_cast<double>(st.pending));
  out.Family("qorv_history_records_stored_total", "History rows written since the host started.",
             kCounter);
  out.Sample({}, static_cast<double>(st.stored));
  out.Family("qorv_history_alarm_events_stored_total",
             "Alarm events written since the host started.", kCounter);
  out.Sample({}, static_cast<double>(st.alarms_stored));
  out.Family("qorv_history_lost_total",
             "History rows and alarm events lost: the queue was full or they were unwritten at "
             "stop.",
             kCounter);
  out.Sample({}, static_cast<double>(st.lost));
  out.Family("qorv_history_failing", "1 while the last attempt to write the history failed.",
             kGauge);
  out.Sample({}, st.failing ? 1 : 0);
}

void MqttMetrics(Exposition& out, const PublishCounts& m) {
  out.Family("qorv_mqtt_connected", "1 while the host is connected to the broker.", kGauge);
  out.Sample({{"broker", m.broker}}, m.connected ? 1 : 0);
  const struct {
    const char* name;
    const char* help;
    MetricType type;
    std::uint64_t value;
  } counts[] = {
      {"qorv_mqtt_published_total", "State messages the broker acknowledged.", kCounter,
       m.published},
      {"qorv_mqtt_waiting_messages", "State messages kept for the broker, not yet acknowledged.",
       kGauge, m.waiting},
      {"qorv_mqtt_backlog_sent_total", "State messages sent again after an outage.", kCounter,
       m.backlog},
      {"qorv_mqtt_skipped_total", "State messages older than the backlog limit, not sent.",
       kCounter, m.skipped},
      {"qorv_mqtt_lost_total", "State messages that could be neither sent nor kept.", kCounter,
       m.lost},
  };
  for (const auto& c : counts) {
    out.Family(c.name, c.help, c.type);
    out.Sample({}, static_cast<double>(c.value));
  }
}

}  // namespace

std::string MetricsText(const SiteMetrics& site) {
  Exposition out;
  out.Family("qorv_rounds_total",
             "Rounds the host has reported since it started: the round number of its JSON lines.",
             kCounter);
  out.Sample({}, site.round);
  StateMetrics(out, site.devices);
  ReadingMetrics(out, site.devices);
  HealthMetrics(out, site.devices);
  LinkMetrics(out, site.devices);
  AlarmMetrics(out, site.devices);
  if (site.store) StoreMetrics(out, *site.store);
  if (site.mqtt) MqttMetrics(out, *site.mqtt);
  return out.Text();
}

}  // namespace runner::metrics
