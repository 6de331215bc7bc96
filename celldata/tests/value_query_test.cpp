// Value queries: readiness, the age of the data, names, and the cache image.
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "string_rig.h"

namespace {

using namespace celltest;

std::string Answer(const Probe<Halvex30>& dev, const std::string& name) {
  try {
    return std::to_string(dev.Get_Value(0, name));
  } catch (const std::out_of_range& e) {
    return e.what();
  }
}

TEST(ValueQuery, NamesAfterARound) {
  Rig<> rig;
  EXPECT_EQ(Answer(rig.dev, "group_voltage"), "数据未就绪");
  EXPECT_EQ(Answer(rig.dev, "battery_0_value"), "数据未就绪");
  Readings cells = Same(30, 1200);
  cells[29] = 1329;
  rig.Round(cells);
  struct Case {
    const char* name;
    std::string answer;
  } cases[] = {
      {"battery_0_value", std::to_string(12.0f)}, {"x_battery_29_value_y", std::to_string(13.29f)},
      {"battery_30_value", "不支持变量"},         {"battery_4294967296_value", "不支持变量"},
      {"group_voltage", std::to_string(50.0f)},   {"group_current", std::to_string(12.3f)},
      {"temperature", std::to_string(26.0f)},     {"Temperature", "不支持变量"},
  };
  for (const auto& c : cases) EXPECT_EQ(Answer(rig.dev, c.name), c.answer) << c.name;
}

// A monitor that stops answering: the host keeps ticking (re-sends, then new
// cycles) and noise keeps arriving, but the data must still go stale 60 s
// after the last completed round, for this device and for a peer that adds
// its string voltage.
TEST(ValueQuery, DataOfASilentMonitorGoesStaleAfter60Seconds) {
  Rig<> rig;
  rig.Round(Same(30, 1200));
  Json::Value peer_app;
  peer_app["group_voltage"].append(7);
  Rig<> peer(peer_app, 8);
  peer.host->SetPeerDevice(7, &rig.dev);
  const boost::posix_time::ptime round_time = rig.host->now;
  for (int age : {10, 20, 30, 40, 50, 60, 61}) {
    SCOPED_TRACE(age);
    rig.host->now = round_time + boost::posix_time::seconds(age);
    rig.dev.RefreshStatus();
    rig.Feed({0x00, 0x13});
    EXPECT_EQ(rig.dev.update_time_, rig.host->now) << "the host still sees exchanges";
    const bool fresh = age <= 60;
    EXPECT_EQ(Answer(rig.dev, "battery_3_value"), fresh ? std::to_string(12.0f) : "数据已超时");
    EXPECT_EQ(Answer(rig.dev, "group_voltage"), fresh ? std::to_string(50.0f) : "数据已超时");
    if (age < 60) continue;
    peer.host->Clear();
    peer.host->now = rig.host->now;
    peer.Round(Same(30, 1200));
    EXPECT_EQ(peer.host->TranscriptOf({HostCall::Kind::kGetSPValue}),
              (RecordingController::Lines{fresh ? "Get_SP_Value 7 group_voltage -> 50"
                                                : "Get_SP_Value 7 group_voltage -> throws"}));
    EXPECT_EQ(peer.host->CallsOf(HostCall::Kind::kCheckThreshold).front().name,
              fresh ? "group_voltage" : "group_current");
  }
  rig.host->Advance(-3600);  // clock set back: fresh
  EXPECT_EQ(Answer(rig.dev, "temperature"), std::to_string(26.0f));
}

TEST(ValueQuery, CacheImageOfExactly152BytesIsTakenWithoutARound) {
  Bytes image(152, 0);
  const float cell5 = 12.5f, group = 375.25f, current = -3.5f, temperature = 24.75f;
  std::memcpy(&image[4 + 4 * 5], &cell5, 4);
  std::memcpy(&image[132], &group, 4);
  std::memcpy(&image[136], &current, 4);
  std::memcpy(&image[141], &temperature, 4);
  for (std::size_t len : {151u, 153u}) {
    Rig<> rig;
    Bytes wrong = image;
    wrong.resize(len);
    EXPECT_FALSE(rig.dev.LoadFromCache(wrong.data(), static_cast<int>(len))) << len;
    EXPECT_FALSE(rig.dev.LoadFromCache(nullptr, 152));
    EXPECT_EQ(Answer(rig.dev, "group_voltage"), "数据未就绪");
  }
  Rig<> rig;
  EXPECT_TRUE(rig.dev.LoadFromCache(std::string(image.begin(), image.end())));
  EXPECT_TRUE(rig.host->calls.empty()) << "no round, nothing published";
  EXPECT_EQ(Answer(rig.dev, "battery_5_value"), std::to_string(cell5));
  EXPECT_EQ(Answer(rig.dev, "group_voltage"), std::to_string(group));
  EXPECT_EQ(Answer(rig.dev, "group_current"), std::to_string(current));
  EXPECT_EQ(Answer(rig.dev, "temperature"), std::to_string(temperature));
  EXPECT_EQ(rig.dev.cell_voltages_[5], 0.0f);
  rig.host->Advance(61);
  EXPECT_EQ(Answer(rig.dev, "battery_5_value"), "数据已超时");
}

}  // namespace
