// The cell reply: how many bytes make a reply, which reading lands in which
// cell, the calibration trims, the validity windows and refused frames.
#include <string>

#include <gtest/gtest.h>

#include "celldata/battery32.h"
#include "celldata/halvex30.h"
#include "string_rig.h"

namespace {

using namespace celltest;

// Readings 1000 + 10 i: 10.00 V + 0.1 V per wire position.
Readings Ramp() {
  Readings r;
  for (int i = 0; i < 32; ++i) r.push_back(static_cast<std::uint16_t>(1000 + 10 * i));
  return r;
}

template <class Device>
void ExpectWiring(bool reversed, int cells, int t31_wire) {
  Json::Value app;
  app["dir"] = reversed ? 1 : 0;
  app["t0"] = 0.5;
  app["t31"] = 0.25;
  Rig<Device> rig(app);
  rig.dev.RefreshStatus();
  testing::internal::CaptureStdout();
  EXPECT_EQ(rig.Feed(CellReply(Ramp())), 1);
  testing::internal::GetCapturedStdout();
  for (int i = 0; i < 32; ++i) {
    SCOPED_TRACE("wire position " + std::to_string(i));
    const int cell = i >= cells ? -1 : reversed ? cells - 1 - i : i;
    if (cell < 0) continue;
    const float trim = i == 0 ? 0.5f : i == t31_wire ? 0.25f : 0.0f;
    EXPECT_EQ(rig.dev.cell_voltages_[cell], static_cast<float>(1000 + 10 * i) / 100.0f + trim);
  }
  for (int c = cells; c < 32; ++c) EXPECT_EQ(rig.dev.cell_voltages_[c], 0.0f) << "slot " << c;
}

TEST(CellDecode, ReadingsLandInTheirCellsWithTrimsOnWirePositions) {
  ExpectWiring<Halvex30>(false, 30, 28);
  ExpectWiring<Halvex30>(true, 30, 28);
  ExpectWiring<Battery32>(false, 32, 31);
  ExpectWiring<Battery32>(true, 32, 31);
}

TEST(CellDecode, WindowEndsAreValidAndTheAdjustedValueDecides) {
  struct Case {
    const char* name;
    int type;
    double adjust;
    std::uint16_t reading;
    float volts;
  } cases[] = {
      {"6 V zero", 6, 0, 0, 0.0f},
      {"6 V below", 6, 0, 4499, 0.0f},
      {"6 V low end", 6, 0, 4500, 4.5f},
      {"6 V high end", 6, 0, 7500, 7.5f},
      {"6 V above", 6, 0, 7501, 0.0f},
      {"12 V below", 0, 0, 899, 0.0f},
      {"12 V low end", 0, 0, 900, 9.0f},
      {"12 V high end", 0, 0, 1500, 15.0f},
      {"12 V above", 0, 0, 1501, 0.0f},
      {"adjusted up into", 0, 0.5, 850, 9.0f},
      {"adjusted out of", 0, 0.75, 1450, 0.0f},
      {"adjusted down into", 0, -0.5, 1550, 15.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Json::Value app;
    app["battery_type"] = c.type;
    app["battery_adjust"] = c.adjust;
    Rig<> rig(app);
    rig.dev.RefreshStatus();
    EXPECT_EQ(rig.Feed(CellReply({0, c.reading})), 1);
    EXPECT_EQ(rig.dev.cell_voltages_[1], c.volts);
  }
}

TEST(CellDecode, ReplyLengthStrayBytesAndRefusedFrames) {
  const Bytes good = CellReply(Same(32, 1200));
  Bytes bad_checksum = good, one_short = good;
  bad_checksum[66] ^= 1;
  one_short.pop_back();
  const Bytes stray{0xED, 0x81, 0x00};
  const struct {
    const char* name;
    Bytes first, second;
    int result;
    std::uint32_t halvex_left, battery32_left;
    const char* battery32_log;
  } cases[] = {
      {"66 bytes wait", one_short, {}, 1, 66, 66, ""},
      {"good frame, 3 stray bytes dropped with it", good, stray, 1, 0, 0,
       "Battery32 7 before CallGroupVoltage\nBattery32 7 after CallGroupVoltage\n"},
      {"bad checksum, 3 stray bytes", bad_checksum, stray, 0, 3, 0,
       "Battery32 7 checksum failed\n"},
      {"other address",
       CellReply(Same(32, 1200), 0x82),
       {},
       0,
       0,
       0,
       "msg_buf[0] == 0xed && msg_buf[1] == addr_ failed\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig<Halvex30> halvex;
    Rig<Battery32> battery32;
    Bytes chunk = c.first;
    chunk.insert(chunk.end(), c.second.begin(), c.second.end());
    halvex.dev.RefreshStatus();
    battery32.dev.RefreshStatus();
    testing::internal::CaptureStdout();
    EXPECT_EQ(halvex.Feed(chunk), c.result);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    testing::internal::CaptureStdout();
    EXPECT_EQ(battery32.Feed(chunk), c.result);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.battery32_log);
    EXPECT_EQ(halvex.dev.msg_len_, c.halvex_left);
    EXPECT_EQ(battery32.dev.msg_len_, c.battery32_left);
    const bool taken = c.result == 1 && c.first.size() == 67;
    EXPECT_EQ(halvex.dev.call_state_, taken ? 2 : c.result);
    EXPECT_EQ(halvex.dev.cell_voltages_[29], taken ? 12.0f : 0.0f);
    EXPECT_EQ(battery32.dev.cell_voltages_[31], taken ? 12.0f : 0.0f);
    RecordingController::Lines frames{"FE FE 81 A1 22", "FE FE 81 A2 23"};
    frames.resize(taken ? 2 : 1);
    EXPECT_EQ(halvex.host->Frames(), frames);
    EXPECT_EQ(battery32.host->Frames(), frames);
  }
}

}  // namespace
