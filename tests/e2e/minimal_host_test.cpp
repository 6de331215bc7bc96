// A host made of the framework interface alone: this executable links only
// libqorv_host and a controller of its own, exports nothing extra, and loads
// the built plug-in with every symbol bound at once. Any host function the
// plug-in imports beyond the interface makes the load fail here, as it
// would on the controller.
#include <dlfcn.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/value.h>

#include "host/provider.h"
#include "host/qorv_controller.h"
#include "host/qorv_spdevice.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Keeps what a round hands the host: frames sent, records published and
// records given to the history.
class TinyController : public QorvController {
 public:
  int SendData(QorvSPDevice&, const unsigned char* data, unsigned len) override {
    frames.emplace_back(data, data + len);
    return static_cast<int>(len);
  }
  float Get_SP_Value(unsigned, const std::string&) override { return 0.0f; }
  void SendSP(QorvVDevice&, int type_code, const unsigned char*, unsigned len, bool) override {
    published.push_back({type_code, len});
  }
  void SaveDeviceHistory(QorvVDevice&, const unsigned char*, unsigned len) override {
    history.push_back(len);
  }

  std::vector<Bytes> frames;
  std::vector<std::pair<int, unsigned>> published;
  std::vector<unsigned> history;
};

// A reply from the monitor at wire address 0x81: ED, address, big-endian
// readings, then the sum of address and readings modulo 256, then 254.
Bytes Reply(unsigned readings, unsigned value) {
  Bytes frame{0xED, 0x81};
  unsigned sum = 0x81;
  for (unsigned i = 0; i < readings; ++i) {
    frame.push_back(static_cast<unsigned char>(value >> 8));
    frame.push_back(static_cast<unsigned char>(value));
    sum += (value >> 8) + (value & 0xFF);
  }
  frame.push_back(static_cast<unsigned char>(sum % 256 % 254));
  return frame;
}

TEST(MinimalHost, LoadsThePluginWithEverySymbolBoundAndRunsARound) {
  void* library = dlopen(HALVEX30_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using GetProviders = std::vector<std::shared_ptr<Provider>> (*)();
  auto get_providers = reinterpret_cast<GetProviders>(dlsym(library, "get_providers"));
  ASSERT_NE(get_providers, nullptr) << dlerror();
  {
    auto providers = get_providers();
    ASSERT_EQ(providers.size(), 1u);
    auto provider = std::dynamic_pointer_cast<QorvSPDeviceProvider>(providers[0]);
    ASSERT_NE(provider, nullptr);
    std::unique_ptr<QorvVDevice> owner(provider->create());
    auto& device = static_cast<QorvSPDevice&>(*owner);
    EXPECT_EQ(device.DeviceType(), "halvex_30");

    auto host = std::make_shared<TinyController>();
    Json::Value host_setting, config(Json::objectValue);
    host_setting["address"] = 1;
    ASSERT_EQ(device.Init(host, 5, host_setting), 1);
    EXPECT_EQ(device.DataId(), 5u);
    ASSERT_EQ(device.InitSetting(config), 1);

    EXPECT_EQ(device.RefreshStatus(), 1);
    Bytes cells = Reply(32, 1300);
    EXPECT_EQ(device.process(cells.data(), static_cast<unsigned>(cells.size())), 1);
    for (int awaited : {1, 1, 0}) {
      Bytes scalar = Reply(1, 100);
      EXPECT_EQ(device.process(scalar.data(), static_cast<unsigned>(scalar.size())), awaited);
    }
    ASSERT_EQ(host->frames.size(), 4u);
    EXPECT_EQ(host->frames[0], (Bytes{0xFE, 0xFE, 0x81, 0xA1, 0x22}));
    EXPECT_EQ(host->published, (std::vector<std::pair<int, unsigned>>{{5013, 152}}));
    EXPECT_EQ(host->history, std::vector<unsigned>{152});
    EXPECT_FLOAT_EQ(device.Get_Value(0, "battery_29_value"), 13.0f);
  }
  EXPECT_EQ(dlclose(library), 0) << dlerror();
}

}  // namespace
