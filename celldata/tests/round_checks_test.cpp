// The cell device's round-end work: string-voltage fallback, change
// detection, the record image, and which cells are checked under which
// names, texts and points.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "string_rig.h"

namespace {

using namespace celltest;
using runner::recording::Hex;
using Lines = RecordingController::Lines;

TEST(RoundChecks, StringVoltageBelow40VoltsIsTheSumOfTheCells) {
  const struct {
    std::uint16_t reading;
    float volts;
  } cases[] = {{399, 360.0f}, {400, 40.0f}, {0, 360.0f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reading);
    Rig<> rig;
    rig.Round(Same(30, 1200), c.reading);
    EXPECT_EQ(F32(rig.Published(), 132), c.volts);
    EXPECT_EQ(rig.dev.Get_Value(0, "group_voltage"), c.volts);
  }
}

// The string voltage in hundredths: one reading of 0.01 V is the change
// step, and counts; cells stay put throughout.
TEST(RoundChecks, AStringVoltageStepOfOneHundredthIsAChange) {
  Json::Value app;
  app["version"] = 2;
  Rig<> rig(app);
  const struct {
    const char* name;
    std::uint16_t group;
    bool changed;
  } rounds[] = {
      {"first round", 40000, true},
      {"the same reading", 40000, false},
      {"exactly one step up", 40001, true},
      {"exactly one step down", 40000, true},
  };
  for (const auto& r : rounds) {
    SCOPED_TRACE(r.name);
    rig.dev.data_changed_ = false;
    rig.Round(Same(30, 1200), r.group);
    EXPECT_EQ(rig.dev.data_changed_, r.changed);
  }
}

TEST(RoundChecks, ChangedDataAgainstThePreviousRound) {
  Json::Value app;
  app["battery_type"] = 6;  // millivolt readings
  Rig<> rig(app);
  // Each round moves one cell from where the last round left it.
  const struct {
    const char* name;
    int cell;
    std::uint16_t reading, group;
    bool changed;
  } rounds[] = {
      {"first round against the zeroed record", 7, 6000, 500, true},
      {"cell 0.049 V away", 7, 6049, 500, false},
      {"cell 0.06 V away from the last round", 7, 6109, 500, true},
      {"string 0.1 V away", 7, 6109, 501, true},
      {"nothing moved", 7, 6109, 501, false},
      {"only the first cell 0.06 V away", 0, 6060, 501, true},
      {"only the first cell 0.049 V away", 0, 6109, 501, false},
      {"only the last cell 0.06 V away", 29, 6060, 501, true},
      {"only the last cell 0.049 V away", 29, 6011, 501, false},
      // One step of 0.050 V is a change: the step itself counts, not only
      // what lies beyond it.
      {"a cell exactly one step away", 12, 6050, 501, true},
      {"and back by exactly one step", 12, 6000, 501, true},
  };
  Readings cells = Same(30, 6000);
  for (const auto& r : rounds) {
    SCOPED_TRACE(r.name);
    cells[r.cell] = r.reading;
    rig.Round(cells, r.group);
    EXPECT_EQ(rig.dev.data_changed_, r.changed);
  }
}

TEST(RoundChecks, CellsCheckedWithTheirNumberInTheString) {
  const struct {
    const char* config;
    Lines checks;
  } cases[] = {
      {R"({"active_batteries": [3, 40, -1, 30, 29]})",
       {"CheckThreshold battery_3_value 第4节电池 12 4",
        "CheckThreshold battery_29_value 第30节电池 12 30"}},
      {R"({"battery_start": 17, "active_batteries": [1]})",
       {"CheckThreshold battery_1_value 第19节电池 12 2"}},
      {R"({"group_index": 2, "amount": 2})",
       {"CheckThreshold battery_0_value 第18节电池 12 1",
        "CheckThreshold battery_1_value 第19节电池 12 2"}},
      {R"({"battery_start": 2147483647, "active_batteries": [0]})",
       {"CheckThreshold battery_0_value 第2147483648节电池 12 1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    Json::Value app;
    std::istringstream(c.config) >> app;
    Rig<> rig(app);
    rig.Round(Same(30, 1200));
    const Lines checks = rig.host->TranscriptOf({HostCall::Kind::kCheckThreshold});
    EXPECT_EQ(Lines(checks.begin() + 3, checks.end()), c.checks);
  }
  Json::Value app;
  app["group_voltage"].append(9);
  Rig<> missing_peer(app);
  missing_peer.host->SetPeerThrows(9, "group_voltage");
  missing_peer.Round(Same(30, 1200));
  const Lines checks = missing_peer.host->TranscriptOf({HostCall::Kind::kCheckThreshold});
  ASSERT_EQ(checks.size(), 32u) << "no string-voltage check without the peer's share";
  EXPECT_EQ(checks[0], "CheckThreshold group_current 电流 12.3 1");
  EXPECT_EQ(checks[2], "CheckThreshold battery_0_value 第1节电池 12 1");
}

// Big-endian readings on the wire, little-endian fields in the record, the
// unaligned temperature and stamp: byte for byte through a round, then back
// through the cache into a fresh device, whose next round publishes the
// same bytes again.
TEST(RoundChecks, RecordImageRoundTripsByteExactly) {
  Rig<> rig;
  Readings cells = Same(32, 1200);
  cells[1] = 0x04D2;               // 12.34 V
  cells[30] = cells[31] = 0xFFFF;  // not this string's cells
  rig.Round(cells, 0x1234, 0x0102, 2650);
  const Bytes image = rig.Published();
  ASSERT_EQ(image.size(), 152u);
  EXPECT_EQ(Hex(&image[0], 8), "07 00 00 00 00 00 40 41");  // data id 7, cell 0 12.0
  EXPECT_EQ(F32(image, 8), 12.34f);
  EXPECT_EQ(Hex(&image[124], 8), "00 00 00 00 00 00 00 00");  // slots 30, 31
  EXPECT_EQ(F32(image, 132), 466.0f);                         // 0x1234 = 4660 tenths
  EXPECT_EQ(F32(image, 136), 25.8f);                          // 0x0102 = 258 tenths
  EXPECT_EQ(Hex(&image[140], 12),
            "00 00 00 D4 41 57 29 35 01 0C 00 00");  // 26.5 °C, 2026-12-07 12:00:00

  Rig<> restored;
  ASSERT_TRUE(restored.dev.LoadFromCache(image.data(), 152));
  EXPECT_EQ(restored.dev.Get_Value(0, "temperature"), 26.5f);
  EXPECT_EQ(restored.dev.Get_Value(0, "battery_1_value"), 12.34f);
  restored.Round(cells, 0x1234, 0x0102, 2650);
  EXPECT_EQ(restored.Published(), image);
  EXPECT_FALSE(restored.dev.data_changed_);
}

}  // namespace
