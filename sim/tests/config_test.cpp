// Settings from a host's JSON and from command-line text, and the messages
// that name a bad key.

#include "sim/config.h"

#include <gtest/gtest.h>

#include "sim/config_error.h"

namespace sim {
namespace {

Json::Value Json(const std::string& text) { return ParseJsonText(text, "test"); }

TEST(Config, ReadsASiteFileMonitor) {
  const BusConfig config = ParseBusConfig(Json(R"({
      "address": "0x81", "cells": 30, "cell_type": 12, "cell_volts": 13.3,
      "group_scale": 0.1, "current_amps": -5.0, "current_encoding": "plain",
      "temperature_c": 25.0, "seed": 1,
      "faults": {"drop": 0.05, "corrupt": "2x", "split": {"rate": 0.5, "count": 1}, "delay_ms": 120},
      "events": [{"type": "cell_drop", "at_s": 60, "cell": 4},
                 {"type": "silence", "at_s": 120, "for_s": 10}]})"));
  ASSERT_EQ(config.monitors.size(), 1u);
  const MonitorProfile& p = config.monitors[0].profile;
  EXPECT_EQ(p.address, 0x81);
  EXPECT_EQ(p.cells, 30);
  EXPECT_EQ(p.current_amps, -5.0);
  EXPECT_EQ(config.options.seed, 1u);
  const FaultPlan& f = config.monitors[0].faults;
  EXPECT_EQ(f[Fault::kDrop].rate, 0.05);
  EXPECT_EQ(f[Fault::kCorrupt].count, 2);
  EXPECT_EQ(f[Fault::kSplit].rate, 0.5);
  EXPECT_EQ(f[Fault::kSplit].count, 1);
  EXPECT_EQ(f.delay_ms, 120);
  ASSERT_EQ(p.events.size(), 2u);
  EXPECT_EQ(p.events[0].kind, Event::Kind::kCellDrop);
  EXPECT_LT(p.events[0].value, 9.0) << "a drop defaults to below the 12 V window";
  EXPECT_EQ(p.events[1].for_s, 10);
}

TEST(Config, ReadsABusOfMonitors) {
  const BusConfig config = ParseBusConfig(Json(R"({"seed": 9, "pace": true, "monitors": [
      {"device_address": 1},
      {"address": 130, "cells": 24, "cell_type": 6, "group_scale": "0.01", "current_encoding": "sensor"}]})"));
  ASSERT_EQ(config.monitors.size(), 2u);
  EXPECT_EQ(config.options.seed, 9u);
  EXPECT_TRUE(config.options.pace);
  EXPECT_EQ(config.monitors[0].profile.address, 0x81);
  const MonitorProfile& six = config.monitors[1].profile;
  EXPECT_EQ(six.address, 0x82);
  EXPECT_EQ(six.cell_type, CellType::kSixVolt);
  EXPECT_EQ(six.BaseVolts(0), 6.75) << "6 V blocks default inside their own window";
  EXPECT_EQ(six.group_scale, GroupScale::kCentiVolt);
  EXPECT_EQ(six.current_encoding, CurrentEncoding::kSensor);
}

TEST(Config, ErrorsNameTheKey) {
  struct Case {
    const char* json;
    const char* message;
  };
  const Case cases[] = {
      {R"({"cell_volt": 13.3})", "cell_volt: unknown key"},
      {R"({"cell_type": 7})", "cell_type: must be 12 or 6"},
      {R"({"cells": 4, "cell_volts": [13, 13, 13]})",
       "cell_volts: needs one value or one per block"},
      {R"({"address": "0x81", "device_address": 1})", "address: give address or device_address"},
      {R"({"group_scale": 0.5})", "group_scale: must be 0.1 or 0.01"},
      {R"({"current_encoding": "signed"})", "current_encoding: must be \"plain\" or \"sensor\""},
      {R"({"faults": {"drop": 1.5}})", "faults.drop: rate must lie in 0..1"},
      {R"({"faults": {"flip": 0.1}})", "faults.flip: unknown key"},
      {R"({"events": [{"type": "flood"}]})", "events[0].type: must be cell_drop"},
      {R"({"events": [{"type": "silence", "at_s": 3}]})",
       "events[0].for_s: a silence needs a length"},
      {R"({"events": [{"type": "cell_drop", "cell": 30}]})",
       "events[0].cell: must name a block 0..29"},
      {R"({"events": [{"type": "current_step", "amps": 1, "volts": 2}]})",
       "events[0].volts: does not apply"},
      {R"({"monitors": [{"cells": 30}, {"cells": 0}]})",
       "monitors[1].cells: must be a whole number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    try {
      ParseBusConfig(Json(c.json));
      ADD_FAILURE() << "accepted";
    } catch (const ConfigError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

TEST(Config, ReadsAMonitorFromCommandLineText) {
  const MonitorSetup setup = ParseMonitorText(
      "address=0x82, cells=3, cell_volts=13.1/13.2/13.3, drop=3x, split=0.25, delay_ms=50");
  EXPECT_EQ(setup.profile.address, 0x82);
  EXPECT_EQ(setup.profile.cell_volts, (std::vector<double>{13.1, 13.2, 13.3}));
  EXPECT_EQ(setup.faults[Fault::kDrop].count, 3);
  EXPECT_EQ(setup.faults[Fault::kSplit].rate, 0.25);
  EXPECT_EQ(setup.faults.delay_ms, 50);
  EXPECT_EQ(ParseMonitorText("device_address=2").profile.address, 0x82);
  EXPECT_EQ(ParseMonitorText("device_address=0x80").profile.address, 0x00) << "wraps modulo 256";
  EXPECT_THROW(ParseMonitorText("cells=3,cells=4"), ConfigError);
  EXPECT_THROW(ParseMonitorText("cells"), ConfigError);
}

TEST(Config, EventTextGoesToTheNamedMonitorOrToAll) {
  BusConfig config;
  config.monitors.resize(2);
  config.monitors[1].profile.address = 0x82;
  AddEventText(config, "current_step,at_s=5,amps=-30");
  AddEventText(config, "cell_drop,address=0x82,cell=2,volts=8.1,ramp_s=10");
  ASSERT_EQ(config.monitors[0].profile.events.size(), 1u);
  ASSERT_EQ(config.monitors[1].profile.events.size(), 2u);
  const Event& drop = config.monitors[1].profile.events[1];
  EXPECT_EQ(drop.kind, Event::Kind::kCellDrop);
  EXPECT_EQ(drop.cell, 2);
  EXPECT_EQ(drop.value, 8.1);
  EXPECT_EQ(drop.ramp_s, 10);
  EXPECT_THROW(AddEventText(config, "silence,address=0x83,for_s=1"), ConfigError);
}

}  // namespace
}  // namespace sim
