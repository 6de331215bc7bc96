// The device bases reach the host only through the controller: these tests
// pin what happens with a host, without one, and when it goes away.
#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "host/provider.h"
#include "host/qorv_spdevice.h"
#include "runner/plugin_access/serial_settings.h"
#include "runner/recording/recording_controller.h"

namespace {

using runner::recording::RecordingController;

class PlainDevice : public QorvSPDevice {
 public:
  bool LoadFromCache(const unsigned char*, int len) override { return len == 3; }
  using QorvSPDevice::LoadFromCache;
};

TEST(DeviceForwarding, HostOperationsReachTheControllerNamingTheDevice) {
  auto host = std::make_shared<RecordingController>();
  host->SetPeerValue(7, "group_voltage", 12.5f);
  PlainDevice dev;
  ASSERT_EQ(dev.Init(host, 42, Json::Value()), 1);

  const unsigned char frame[] = {0xFE, 0xFE, 0x01, 0xA1, 0xA2};
  EXPECT_EQ(dev.SendData(frame, 5), 5);
  dev.RefreshStatus();
  dev.Reset();
  EXPECT_FLOAT_EQ(dev.Get_SP_Value(7, "group_voltage"), 12.5f);
  EXPECT_THROW(dev.Get_SP_Value(9, "group_voltage"), std::out_of_range);
  dev.CheckThreshold("temperature", "温度", 25.0f, 1);

  EXPECT_EQ(host->Transcript(), (RecordingController::Lines{
                                    "SendData FE FE 01 A1 A2",
                                    "RefreshStatus",
                                    "Reset",
                                    "Get_SP_Value 7 group_voltage -> 12.5",
                                    "Get_SP_Value 9 group_voltage -> throws",
                                    "CheckThreshold temperature 温度 25 1",
                                }));
  for (const auto& call : host->calls) {
    if (call.kind != runner::recording::HostCall::Kind::kGetSPValue) {
      EXPECT_EQ(call.device_id, 42u);
    }
  }
}

TEST(DeviceForwarding, WithoutAHostNothingIsSentAndPeersAreUnavailable) {
  PlainDevice dev;
  {
    auto host = std::make_shared<RecordingController>();
    dev.Init(host, 1, Json::Value());
  }  // the host is gone
  const unsigned char frame[] = {0xFE};
  EXPECT_LT(dev.SendData(frame, 1), 0);
  EXPECT_THROW(dev.Get_SP_Value(7, "group_voltage"), std::out_of_range);
  EXPECT_FALSE(dev.CheckAOReport("x", 1.0f));
  EXPECT_FALSE(dev.DoBatchCheckThreshold({}));
}

TEST(DeviceForwarding, InitTakesTheBusAddressModulo256) {
  struct Case {
    const char* name;
    Json::Value setting;
    int result;
    unsigned char address;
  } cases[] = {
      {"no setting", Json::Value(), 1, 0},
      {"address 1",
       [] {
         Json::Value v;
         v["address"] = 1;
         return v;
       }(),
       1, 0x01},
      {"address 0x181",
       [] {
         Json::Value v;
         v["address"] = 0x181;
         return v;
       }(),
       1, 0x81},
      {"address as text",
       [] {
         Json::Value v;
         v["address"] = "1";
         return v;
       }(),
       0, 0},
      {"negative address",
       [] {
         Json::Value v;
         v["address"] = -1;
         return v;
       }(),
       0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlainDevice dev;
    EXPECT_EQ(dev.Init(std::weak_ptr<QorvController>(), 3, c.setting), c.result);
    EXPECT_EQ(plugin_access::BusAddress(dev), c.address);
    EXPECT_EQ(dev.DataId(), 3u);
  }
}

TEST(DeviceForwarding, InterfaceDefaults) {
  PlainDevice dev;
  const VDeviceInterface& iface = dev;
  try {
    iface.Get_Value(0, "group_voltage");
    FAIL() << "expected std::out_of_range";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "数据未就绪");
  }
  int out_size = 0;
  EXPECT_EQ(dev.DeviceIoControl(100, nullptr, 0, nullptr, 0, out_size), -2);
  // The text overload hands over the text's bytes and length.
  EXPECT_TRUE(dev.LoadFromCache(std::string("abc")));
  EXPECT_FALSE(dev.LoadFromCache(std::string("abcd")));
}

}  // namespace
