#include "bench/poll_round.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "celldata/battery32_record.h"
#include "host/provider.h"
#include "plugin/halvex30_provider.h"
#include "runner/plugin_access/device_cells.h"
#include "runner/recording/monitor_reply.h"

namespace halvex::bench {
namespace {

constexpr unsigned kCellBase = 1320;       // 13.20 V in 0.01 V
constexpr unsigned kStringVoltage = 4000;  // 400.0 V in 0.1 V
constexpr unsigned kCurrent = 50;          // 5.0 A in 0.1 A
constexpr unsigned kTemperature = 2600;    // 26.00 °C in 0.01 °C

std::vector<unsigned char> CellReply(unsigned char address) {
  std::vector<std::uint16_t> readings;
  for (unsigned i = 0; i < wire::kCellReadings; ++i)
    readings.push_back(static_cast<std::uint16_t>(kCellBase + i % 7));
  return runner::recording::BuildReply(address, readings);
}

int Feed(QorvSPDevice& device, std::vector<unsigned char>& reply) {
  return device.process(reply.data(), static_cast<unsigned>(reply.size()));
}

}  // namespace

MonitorReplies::MonitorReplies(unsigned char address)
    : cells(CellReply(address)),
      group_voltage(runner::recording::BuildReply(address, {kStringVoltage})),
      current(runner::recording::BuildReply(address, {kCurrent})),
      temperature(runner::recording::BuildReply(address, {kTemperature})) {}

bool RunPollRound(QorvSPDevice& device, MonitorReplies& replies, unsigned chunk) {
  device.RefreshStatus();
  const unsigned total = static_cast<unsigned>(replies.cells.size());
  for (unsigned offset = 0; offset < total; offset += chunk) {
    const unsigned len = std::min(chunk, total - offset);
    if (device.process(replies.cells.data() + offset, len) != 1) return false;
  }
  if (Feed(device, replies.group_voltage) != 1) return false;
  if (Feed(device, replies.current) != 1) return false;
  Feed(device, replies.temperature);  // 0 either way: the round ended or failed
  return true;
}

Json::Value TypicalConfig() {
  Json::Value app(Json::objectValue);
  app["b_mode"] = 1;
  app["battery_type"] = 0;
  app["version"] = 1;
  app["dir"] = 0;
  app["group_a"] = 1.0;
  app["group_b"] = 0.0;
  app["battery_adjust"] = "0.02";
  app["save_interval"] = 10;
  app["battery_start"] = 0;
  app["t0"] = 0.0;
  app["t31"] = 0.0;
  Json::Value config(Json::objectValue);
  config["appSetting"] = app;
  return config;
}

Json::Value ThresholdTableConfig() {
  Json::Value config = TypicalConfig();
  config["appSetting"]["b_mode"] = 3;
  std::vector<std::string> keys = {"group_voltage", "group_current", "temperature"};
  for (int cell = 0; cell < runner::CellCountOf("halvex_30"); ++cell)
    keys.push_back(runner::CellValueName(cell));
  Json::Value table(Json::objectValue);
  int number = 1;
  for (const std::string& key : keys) {
    Json::Value entry(Json::objectValue);
    entry["SignalName"] = key;
    entry["NMAlarmID"] = "0418" + std::to_string(100 + number);
    entry["ID"] = std::to_string(number);
    entry["SignalNumber"] = std::to_string(number);
    table[key] = entry;
    ++number;
  }
  config["thresholdSetting"] = table;
  return config;
}

void SetUpDevice(QorvSPDevice& device, const std::shared_ptr<QorvController>& host,
                 const Json::Value& config, unsigned data_id) {
  Json::Value host_setting(Json::objectValue);
  host_setting["address"] = kConfiguredAddress;
  device.Init(host, data_id, host_setting);
  device.InitSetting(config);
}

const QorvSPDeviceProvider& LinkedProvider() {
  static const Halvex30Provider provider;
  return provider;
}

std::vector<unsigned char> CachedRecord(unsigned data_id) {
  Battery32_Data_t record{};
  record.data_id = data_id;
  for (int cell = 0; cell < 30; ++cell) record.battery_value[cell] = 13.2f + 0.01f * cell;
  record.group_voltage = 396.5f;
  record.group_current = 5.0f;
  halvex::SetRecordTemperature(record, 26.0f);
  std::vector<unsigned char> image(sizeof record);
  std::memcpy(image.data(), &record, sizeof record);
  return image;
}

}  // namespace halvex::bench
