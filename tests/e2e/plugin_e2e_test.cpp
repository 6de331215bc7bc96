// The plug-in as the host runs it: load halvex_30.so, take its provider,
// create a device, configure it, poll it through complete rounds, query it,
// then destroy the device and unload the library. Monitor replies and the
// expected record images are encoded here from the wire and record formats.
#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>
#include <json/reader.h>

#include "host/provider.h"
#include "host/ttime.h"
#include "runner/plugin_access/plugin_library.h"
#include "runner/recording/recording_controller.h"

namespace {

using runner::recording::HostCall;
using runner::recording::RecordingController;
using Bytes = std::vector<unsigned char>;
using Lines = RecordingController::Lines;

constexpr unsigned kDataId = 42;
constexpr int kCells = 30;

// ED 81 [hh ll]... ss, checksum: 8-bit sum of address and payload, mod 254.
Bytes Reply(const std::vector<std::uint16_t>& readings) {
  Bytes frame{0xED, 0x81};
  unsigned sum = 0x81;
  for (std::uint16_t r : readings) {
    frame.insert(frame.end(), {static_cast<unsigned char>(r >> 8), static_cast<unsigned char>(r)});
    sum += (r >> 8) + (r & 0xFF);
  }
  frame.push_back(static_cast<unsigned char>(sum % 256 % 254));
  return frame;
}

void PutU32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void PutF32(Bytes& out, float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  PutU32(out, bits);
}

struct Round {
  std::vector<std::uint16_t> cells;  // 32 readings, wire order
  std::uint16_t group, current, temperature;
  std::vector<float> volts;  // expected cell voltages
};

// Readings 12.00 V + 0.1 V per cell + 0.01 V per round; the junk in slots 30
// and 31 only counts in the checksum. Trims: t0 +0.05 V on wire position 0,
// t31 -0.05 V on wire position 28.
Round MakeRound(int r) {
  Round round{{},
              static_cast<std::uint16_t>(3650 + r),
              static_cast<std::uint16_t>(123 + r),
              static_cast<std::uint16_t>(2550 + 10 * r),
              {}};
  for (int k = 0; k < 32; ++k) {
    round.cells.push_back(k < kCells ? static_cast<std::uint16_t>(1200 + 10 * k + r) : 0xBEEF);
    float v = static_cast<float>(round.cells[k]) / 100.0f;
    v = k == 0 ? v + 0.05f : k == 28 ? v + -0.05f : v;
    if (k < kCells) round.volts.push_back(v);
  }
  return round;
}

Bytes ExpectedImage(const Round& round, const boost::posix_time::ptime& now) {
  Bytes image;
  PutU32(image, kDataId);
  for (int k = 0; k < 32; ++k) PutF32(image, k < kCells ? round.volts[k] : 0.0f);
  PutF32(image, static_cast<float>(round.group) / 10.0f);
  PutF32(image, static_cast<float>(round.current) / 10.0f);
  image.push_back(0);
  PutF32(image, static_cast<float>(round.temperature) / 100.0f);
  const TTime stamp = get_ttime(now);
  image.insert(image.end(), stamp.bytes, stamp.bytes + 7);
  return image;
}

std::string Text(float value);

Lines ExpectedChecks(const Round& round) {
  auto line = [](const std::string& name, const std::string& text, float value, int point) {
    return "CheckThreshold " + name + ' ' + text + ' ' + Text(value) + ' ' + std::to_string(point);
  };
  Lines checks{line("group_voltage", "整组电压", round.group / 10.0f, 1),
               line("group_current", "电流", round.current / 10.0f, 1),
               line("temperature", "温度", round.temperature / 100.0f, 1)};
  for (int k = 0; k < kCells; ++k)
    checks.push_back(line("battery_" + std::to_string(k) + "_value",
                          "第" + std::to_string(k + 1) + "节电池", round.volts[k], k + 1));
  return checks;
}

std::string Text(float value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

std::size_t ThreadCount() {
  std::size_t threads = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
    threads += !task.path().empty();
  return threads;
}

std::string Query(const VDeviceInterface& device, const std::string& name) {
  try {
    return Text(device.Get_Value(0, name));
  } catch (const std::out_of_range& e) {
    return e.what();
  }
}

TEST(PluginEndToEnd, LoadConfigurePollQueryAndUnload) {
  const std::size_t threads = ThreadCount();
  void* library = dlopen(HALVEX30_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto get_providers =
      reinterpret_cast<qorv::GetProvidersFn>(dlsym(library, qorv::kGetProvidersSymbol));
  ASSERT_NE(get_providers, nullptr) << dlerror();
  qorv::ProviderList providers = get_providers();
  ASSERT_EQ(providers.size(), 1u);
  EXPECT_EQ(ThreadCount(), threads) << "the plug-in starts no threads";
  EXPECT_NE(get_providers().at(0), providers[0]) << "a fresh provider per call";
  auto provider = std::dynamic_pointer_cast<QorvSPDeviceProvider>(providers[0]);
  ASSERT_NE(provider, nullptr);
  QorvSPDevice* device = provider->create();
  EXPECT_EQ(device->DeviceType(), "halvex_30");
  EXPECT_EQ(Query(*device, "temperature"), "数据未就绪");

  auto host = std::make_shared<RecordingController>();
  Json::Value address, config;
  address["address"] = 1;
  std::istringstream(R"({"appSetting": {"b_mode": "3", "t0": 0.05, "t31": "-0.05"},
      "thresholdSetting": {"battery_0_value": {"SignalName": "第1节电池", "NMAlarmID": "0418",
                                               "ID": 1, "SignalNumber": "1"}}})") >>
      config;
  ASSERT_EQ(device->Init(host, kDataId, address), 1);
  testing::internal::CaptureStdout();
  ASSERT_EQ(device->InitSetting(config), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "InitSetting 42 b_mode_:3\nhere 1\nhere 2\nhere battery_0_value\n"
            "mobile:battery_0_value:0418;1;1; level:0 value:0\n");

  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE("round " + std::to_string(r));
    const Round round = MakeRound(r);
    host->Clear();
    host->Advance(30);
    testing::internal::CaptureStdout();
    EXPECT_EQ(device->RefreshStatus(), 1);
    Bytes cells = Reply(round.cells);
    EXPECT_EQ(device->process(cells.data(), 40), 1);  // the cell reply in two reads
    EXPECT_EQ(device->process(cells.data() + 40, 27), 1);
    for (std::uint16_t scalar : {round.group, round.current, round.temperature}) {
      Bytes reply = Reply({scalar});
      EXPECT_EQ(device->process(reply.data(), 5), scalar == round.temperature ? 0 : 1);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rvSize is 0\n");
    EXPECT_EQ(host->Frames(),
              (Lines{"FE FE 81 A1 22", "FE FE 81 A2 23", "FE FE 81 A3 24", "FE FE 81 A4 25"}));
    EXPECT_EQ(host->TranscriptOf({HostCall::Kind::kCheckThreshold}), ExpectedChecks(round));
    const Bytes image = ExpectedImage(round, host->now);
    ASSERT_EQ(host->CallsOf(HostCall::Kind::kSendSP).size(), 1u);
    EXPECT_EQ(host->CallsOf(HostCall::Kind::kSendSP)[0].number, 5013);
    EXPECT_EQ(host->CallsOf(HostCall::Kind::kSendSP)[0].bytes, image);
    EXPECT_EQ(host->CallsOf(HostCall::Kind::kSaveDeviceHistory).at(0).bytes, image);
    EXPECT_EQ(Query(*device, "battery_29_value"), Text(round.volts[29]));
    EXPECT_EQ(Query(*device, "x_battery_000_value"), Query(*device, "battery_0_value"));
    EXPECT_EQ(Query(*device, "battery_30_value"), "不支持变量");
    EXPECT_EQ(Query(*device, "group_voltage"), Text(round.group / 10.0f));
  }
  // A monitor that falls silent: re-sends, then a new cycle; the data ages out.
  host->Clear();
  for (int tick = 0; tick < 5; ++tick, host->Advance(15)) device->RefreshStatus();
  EXPECT_EQ(host->Frames(), Lines(5, "FE FE 81 A1 22"));
  EXPECT_EQ(host->TranscriptOf({HostCall::Kind::kRefreshStatus}).size(), 2u);
  EXPECT_EQ(Query(*device, "temperature"), "数据已超时");

  delete static_cast<QorvVDevice*>(device);
  provider.reset();
  providers.clear();
  EXPECT_EQ(dlclose(library), 0) << dlerror();
  EXPECT_EQ(dlopen(HALVEX30_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "library unloaded";
}

TEST(PluginLoader, RefusesAPluginThatImportsAHostFunctionTheInterfaceLacks) {
  try {
    qorv::PluginLibrary plugin(EXTRA_IMPORT_PLUGIN_PATH);
    FAIL() << "loaded a plug-in with an unresolved host import";
  } catch (const qorv::PluginError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("cannot load plug-in"), std::string::npos) << what;
    EXPECT_NE(what.find("undefined symbol: _ZNK11QorvVDevice9LocalTimeEv"), std::string::npos)
        << what;
  }
}

// The clock the loaded plug-in reads is the one this process holds, in any
// time zone the machine has, and the zone comes back when the hold ends.
TEST(DeviceClock, ALoadedPluginStampsItsRecordWithTheHeldLocalTime) {
  using boost::posix_time::time_from_string;
  struct Case {
    const char* name;
    const char* zone;  // nullptr: TZ unset
    const char* held;
  } cases[] = {
      {"machine in UTC", "UTC0", "2031-05-06 07:08:09"},
      {"machine east of UTC", "CST-8", "2026-12-31 23:59:59"},
      {"machine west of UTC, summer time", "EST5EDT,M3.2.0,M11.1.0", "2027-07-04 02:30:00"},
      {"TZ unset", nullptr, "2000-02-29 00:00:00"},
  };
  qorv::PluginLibrary plugin(HALVEX30_PLUGIN_PATH);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.zone)
      setenv("TZ", c.zone, 1);
    else
      unsetenv("TZ");
    tzset();
    {
      auto host = std::make_shared<RecordingController>();
      host->now = time_from_string(c.held);
      std::unique_ptr<QorvSPDevice> device = plugin.CreateDevice();
      Json::Value address;
      address["address"] = 1;
      device->Init(host, kDataId, address);
      device->InitSetting(Json::Value(Json::objectValue));
      const Round round = MakeRound(0);
      testing::internal::CaptureStdout();
      device->RefreshStatus();
      Bytes cells = Reply(round.cells);
      device->process(cells.data(), static_cast<unsigned>(cells.size()));
      for (std::uint16_t scalar : {round.group, round.current, round.temperature}) {
        Bytes reply = Reply({scalar});
        device->process(reply.data(), static_cast<unsigned>(reply.size()));
      }
      testing::internal::GetCapturedStdout();
      const auto published = host->CallsOf(HostCall::Kind::kSendSP);
      ASSERT_EQ(published.size(), 1u);
      const TTime stamp = get_ttime(time_from_string(c.held));
      EXPECT_EQ(Bytes(published[0].bytes.end() - 7, published[0].bytes.end()),
                Bytes(stamp.bytes, stamp.bytes + 7));
    }
    const char* zone = std::getenv("TZ");
    EXPECT_EQ(zone ? std::string(zone) : "unset", c.zone ? c.zone : "unset");
    EXPECT_LT(
        std::labs(static_cast<long>(std::time(nullptr) - std::chrono::system_clock::to_time_t(
                                                             std::chrono::system_clock::now()))),
        2L)
        << "released, the clock runs in real time";
  }
  unsetenv("TZ");
  tzset();
}

}  // namespace
