// The monitor model: byte-exact replies for known strings, the scaling a
// device decodes, scripted events, drift and noise.

#include "sim/monitor.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "sim/scaling.h"

namespace sim {
namespace {

// A string with no drift or noise, so every reply is known to the byte.
MonitorProfile Steady(MonitorProfile profile = {}) {
  profile.drift_volts = 0;
  profile.noise_volts = 0;
  return profile;
}

MonitorProfile TwelveVoltString() {
  MonitorProfile p = Steady();  // 30 blocks at 13.3 V on 0x81
  p.current_amps = -5.0;
  return p;
}

MonitorProfile SixVoltString() {
  MonitorProfile p = Steady();
  p.address = 0x01;
  p.cells = 24;
  p.cell_type = CellType::kSixVolt;
  p.cell_volts = {6.5};
  p.group_scale = GroupScale::kCentiVolt;
  p.current_encoding = CurrentEncoding::kSensor;
  p.current_amps = 20.0;
  p.temperature_c = 30.5;
  p.spare_reading = 7;
  return p;
}

Bytes CellFrame(uint8_t address, uint16_t used, int cells, uint16_t spare, uint8_t checksum) {
  Bytes frame{0xED, address};
  for (int i = 0; i < 32; ++i) {
    const uint16_t reading = i < cells ? used : spare;
    frame.push_back(static_cast<uint8_t>(reading >> 8));
    frame.push_back(static_cast<uint8_t>(reading & 0xFF));
  }
  frame.push_back(checksum);
  return frame;
}

TEST(Monitor, KnownStringsReplyByteForByte) {
  struct Case {
    const char* name;
    MonitorProfile profile;
    Command command;
    Bytes expected;
  };
  const Case cases[] = {
      {"12 V cells 13.30 V", TwelveVoltString(), Command::kCellVoltages,
       CellFrame(0x81, 1330, 30, 0, 0xF3)},
      {"12 V group 399.0 V in 0.1 V",
       TwelveVoltString(),
       Command::kGroupVoltage,
       {0xED, 0x81, 0x0F, 0x96, 0x26}},
      {"plain current -5 A, two's complement",
       TwelveVoltString(),
       Command::kCurrent,
       {0xED, 0x81, 0xFF, 0xCE, 0x4E}},
      {"temperature 25.00 C",
       TwelveVoltString(),
       Command::kTemperature,
       {0xED, 0x81, 0x09, 0xC4, 0x4E}},
      {"6 V cells 6.500 V, spare slots 7", SixVoltString(), Command::kCellVoltages,
       CellFrame(0x01, 6500, 24, 7, 0xF1)},
      {"6 V group 156.00 V in 0.01 V",
       SixVoltString(),
       Command::kGroupVoltage,
       {0xED, 0x01, 0x3C, 0xF0, 0x2D}},
      {"sensor current +20 A", SixVoltString(), Command::kCurrent, {0xED, 0x01, 0x0B, 0xB8, 0xC4}},
      {"temperature 30.50 C",
       SixVoltString(),
       Command::kTemperature,
       {0xED, 0x01, 0x0B, 0xEA, 0xF6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Monitor monitor(c.profile);
    EXPECT_EQ(monitor.Reply(EncodeRequest(c.profile.address, c.command)), c.expected);
  }
}

// The counts a device turns back into the values it reports.
TEST(Scaling, CountsMatchTheDeviceDecoding) {
  struct Case {
    const char* name;
    uint16_t counts;
    uint16_t expected;
  };
  const Case cases[] = {
      {"12 V window low end", CellCounts(9.0, CellType::kTwelveVolt), 900},
      {"12 V just over the window", CellCounts(15.01, CellType::kTwelveVolt), 1501},
      {"6 V window low end", CellCounts(4.5, CellType::kSixVolt), 4500},
      {"6 V just over the window", CellCounts(7.501, CellType::kSixVolt), 7501},
      {"group 50.0 V in 0.1 V", GroupCounts(50.0, GroupScale::kDeciVolt), 500},
      {"group 5.00 V in 0.01 V", GroupCounts(5.0, GroupScale::kCentiVolt), 500},
      {"sensor 0 A", CurrentCounts(0.0, CurrentEncoding::kSensor), 2500},
      {"sensor +100 A", CurrentCounts(100.0, CurrentEncoding::kSensor), 5000},
      {"sensor -100 A", CurrentCounts(-100.0, CurrentEncoding::kSensor), 0},
      {"plain 12.3 A", CurrentCounts(12.3, CurrentEncoding::kPlain), 123},
      {"plain -0.1 A", CurrentCounts(-0.1, CurrentEncoding::kPlain), 0xFFFF},
      {"26.00 C", TemperatureCounts(26.0), 2600},
      {"100.00 C", TemperatureCounts(100.0), 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.counts, c.expected);
  }
}

TEST(Monitor, KeepsQuietWhenNotProperlyAsked) {
  const Monitor monitor(TwelveVoltString());
  struct Case {
    const char* name;
    Bytes request;
  };
  const Case cases[] = {
      {"another address", EncodeRequest(0x82, Command::kCurrent)},
      {"bad checksum", {0xFE, 0xFE, 0x81, 0xA3, 0x25}},
      {"unknown command", EncodeRequest(0x81, 0xA5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(monitor.Reply(c.request).empty());
  }
}

Micros At(double seconds) { return FromSeconds(seconds); }

TEST(Monitor, ScriptedEventsBendTheString) {
  MonitorProfile p = TwelveVoltString();
  Event drop;
  drop.kind = Event::Kind::kCellDrop;
  drop.at_s = 60;
  drop.ramp_s = 20;
  drop.for_s = 100;
  drop.cell = 4;
  drop.value = 8.5;
  Event step;
  step.kind = Event::Kind::kCurrentStep;
  step.at_s = 30;
  step.value = 40.0;
  Event rise;
  rise.kind = Event::Kind::kTemperatureRise;
  rise.at_s = 0;
  rise.ramp_s = 100;
  rise.value = 45.0;
  p.events = {drop, step, rise};
  const Monitor monitor(p);

  struct Case {
    const char* name;
    double t;
    uint16_t cell4, cell5, current, temperature;
  };
  const Case cases[] = {
      {"before anything", 0, 1330, 1330, 0xFFCE, 2500},
      {"current stepped", 30, 1330, 1330, 400, 3100},
      {"drop starts", 60, 1330, 1330, 400, 3700},
      {"drop half way", 70, 1090, 1330, 400, 3900},  // 13.3 + (8.5 - 13.3) / 2 = 10.90 V
      {"drop complete, under the 9 V window", 80, 850, 1330, 400, 4100},
      {"temperature reached", 150, 850, 1330, 400, 4500},
      {"drop over", 160, 1330, 1330, 400, 4500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Readings r = monitor.ReadingsAt(At(c.t));
    EXPECT_EQ(r.cells[4], c.cell4);
    EXPECT_EQ(r.cells[5], c.cell5);
    EXPECT_EQ(r.current, c.current);
    EXPECT_EQ(r.temperature, c.temperature);
  }
}

TEST(Monitor, DriftAndNoiseStayWithinTheirBounds) {
  MonitorProfile p;  // default drift 0.02 V and noise 0.003 V
  const Monitor monitor(p, 42);
  uint16_t low = 0xFFFF, high = 0;
  for (int s = 0; s < 600; s += 7) {
    const Readings r = monitor.ReadingsAt(At(s));
    for (int cell = 0; cell < p.cells; ++cell) {
      low = std::min(low, r.cells[cell]);
      high = std::max(high, r.cells[cell]);
    }
  }
  EXPECT_GE(low, 1330 - 3);  // 13.3 V less 0.023 V, in whole counts
  EXPECT_LE(high, 1330 + 3);
  EXPECT_GT(high - low, 2) << "the blocks should wander over a drift period";
}

TEST(Monitor, SameSeedSameMomentSameReadings) {
  const MonitorProfile p;
  const Micros t = At(123.456);
  EXPECT_EQ(Monitor(p, 5).ReadingsAt(t).cells, Monitor(p, 5).ReadingsAt(t).cells);
  EXPECT_NE(Monitor(p, 5).ReadingsAt(t).cells, Monitor(p, 6).ReadingsAt(t).cells);
}

}  // namespace
}  // namespace sim
