// The fuzz harness itself: clean sessions stay clean and really run rounds,
// and every invariant fires when the state it guards is broken.
#include "fuzz/device_harness.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/byte_reader.h"
#include "fuzz/device_program.h"
#include "fuzz/init_setting_check.h"

namespace halvex::fuzz {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::uint16_t> AcrossWindows() {
  std::vector<std::uint16_t> r = {0, 449, 450, 4500, 7500, 7501, 899, 900, 1330, 1500, 1501, 65535};
  while (r.size() < 32) r.push_back(static_cast<std::uint16_t>(1000 + 17 * r.size()));
  return r;
}

Bytes Record(float cell_volts) {
  Battery32_Data_t record{};
  for (int cell = 0; cell < 30; ++cell) record.battery_value[cell] = cell_volts;
  Bytes image(sizeof record);
  std::memcpy(image.data(), &record, sizeof record);
  return image;
}

std::string RunProgram(std::uint8_t settings, const ProgramWriter& ops, int* rounds = nullptr) {
  Bytes program = {settings};
  program.insert(program.end(), ops.bytes().begin(), ops.bytes().end());
  DeviceHarness harness;
  ScriptPeers(harness.host());
  harness.Configure(ProgramSettings(settings));
  RunOps(harness, ops.bytes().data(), ops.bytes().size());
  if (rounds != nullptr) *rounds = harness.rounds();
  EXPECT_EQ(RunDeviceProgram(program.data(), program.size()), harness.violation());
  return harness.violation();
}

ProgramWriter& Round(ProgramWriter& w, const std::vector<std::uint16_t>& cells) {
  return w.Tick().CellReply(cells).ScalarReply(500).ScalarReply(123).ScalarReply(2600);
}

TEST(DeviceHarness, GoodSessionsUnderEverySettingRunCleanAndCompleteRounds) {
  for (int settings = 0; settings < 256; settings += 17) {
    SCOPED_TRACE(settings);
    ProgramWriter w;
    Round(w, AcrossWindows());
    for (int cell = 0; cell < 32; ++cell) w.QueryCell(static_cast<std::uint8_t>(cell));
    w.Cache(Record(12.5f)).QueryCell(4).Clock(61).QueryCell(4);
    Round(w, std::vector<std::uint16_t>(32, 1330)).QueryScalar(0).Query("x_battery_07_value");
    int rounds = 0;
    EXPECT_EQ(RunProgram(static_cast<std::uint8_t>(settings), w, &rounds), "");
    EXPECT_EQ(rounds, 2);
  }
}

TEST(DeviceHarness, BrokenRepliesAndOddChunksKeepTheInvariants) {
  struct Case {
    const char* name;
    Bytes chunk;
  };
  const std::vector<Case> cases = {
      {"noise before a start byte", {0x00, 0x13, 0xED, 0x81, 0x01}},
      {"start bytes only", Bytes(80, 0xED)},
      {"fills the buffer exactly", Bytes(80, 0x05)},
      {"empty chunk", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramWriter w;
    w.Tick().Chunk(c.chunk).Chunk(c.chunk).Tick().Chunk(c.chunk);
    Round(w, AcrossWindows()).QueryCell(0);
    EXPECT_EQ(RunProgram(0, w), "");
  }
}

struct Breach {
  const char* name;
  std::function<void(DeviceHarness&)> act;
  const char* reported;
};

void PublishRecord(DeviceHarness& h, const Bytes& image, int code = 5013) {
  h.host().SendSP(h.device(), code, image.data(), static_cast<unsigned>(image.size()), false);
}

TEST(DeviceHarness, EveryInvariantFiresWhenBroken) {
  const std::vector<Breach> breaches = {
      {"reply buffer past 80 bytes", [](auto& h) { h.device().msg_len_ = 81; }, "msg_len_ is 81"},
      {"poll state outside 0..4", [](auto& h) { h.device().call_state_ = 5; }, "call_state_ is 5"},
      {"bytes held that never came", [](auto& h) { h.device().msg_len_ = 3; },
       "reply buffer holds 3"},
      {"live cell 30 written", [](auto& h) { h.device().cell_voltages_[30] = 1.0f; },
       "live cell 30"},
      {"record cell 31 written", [](auto& h) { h.device().data_.battery_value[31] = 2.0f; },
       "record cell 31"},
      {"record of 151 bytes", [](auto& h) { PublishRecord(h, Bytes(151)); }, "with 151 bytes"},
      {"wrong type code", [](auto& h) { PublishRecord(h, Record(13.3f), 5012); }, "type code 5012"},
      {"cell value never delivered", [](auto& h) { PublishRecord(h, Record(9.75f)); },
       "holds 9.750000 in cell 0"},
      {"history differs from publication",
       [](auto& h) {
         Bytes other = Record(13.3f);
         other[132] ^= 1;
         PublishRecord(h, Record(13.3f));
         h.host().SaveDeviceHistory(h.device(), other.data(), static_cast<unsigned>(other.size()));
       },
       "differs from the one handed to history"},
      {"malformed request",
       [](auto& h) {
         const Bytes frame = {0xFE, 0xFE, 0x81, 0xA1, 0x00};
         h.host().SendData(h.device(), frame.data(), 5);
       },
       "malformed request FE FE 81 A1 00"},
  };
  for (const Breach& b : breaches) {
    SCOPED_TRACE(b.name);
    DeviceHarness h;
    h.Configure(ProgramSettings(0));
    ProgramWriter w;
    Round(w, std::vector<std::uint16_t>(32, 1330));
    RunOps(h, w.bytes().data(), w.bytes().size());
    ASSERT_TRUE(h.ok()) << h.violation();
    b.act(h);
    EXPECT_FALSE(h.Check());
    EXPECT_NE(h.violation().find(b.reported), std::string::npos) << h.violation();
  }
}

TEST(DeviceHarness, QueryOfAValueNoReplyDeliveredIsReported) {
  DeviceHarness h;
  h.Configure(ProgramSettings(0));
  ProgramWriter w;
  Round(w, std::vector<std::uint16_t>(32, 1330));
  RunOps(h, w.bytes().data(), w.bytes().size());
  ASSERT_TRUE(h.Query("battery_3_value")) << h.violation();
  h.device().data_.battery_value[3] = 99.0f;
  EXPECT_FALSE(h.Query("battery_3_value"));
  EXPECT_NE(h.violation().find("no accepted reply or cache delivered to cell 3"),
            std::string::npos);
}

TEST(DeviceHarness, OracleCellFollowsTheLeftmostMatch) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"battery_0_value", 0},           {"battery_05_value", 5},
      {"x_battery_29_value_y", 29},     {"battery_30_value", -1},
      {"battery_0000_value", 0},        {"battery_000000000000000000031_value", -1},
      {"battery_4294967296_value", -1}, {"battery_7_value battery_3_value", 7},
      {"battery_battery_5_value", 5},   {"battery__value", -1},
  };
  for (const auto& [name, cell] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(OracleCell(name), cell);
  }
}

TEST(DeviceProgram, EveryOpTakesExactlyItsOperands) {
  // Ops with operands of every kind before a round: if any op took a byte
  // too many or too few, the round's replies would be read out of step and
  // no round would complete.
  std::vector<std::pair<const char*, std::function<void(ProgramWriter&)>>> ops = {
      {"query by name", [](auto& w) { w.Query("x_battery_5_value"); }},
      {"query of a cell", [](auto& w) { w.QueryCell(31); }},
      {"query of a string value", [](auto& w) { w.QueryScalar(1); }},
      {"history interval", [](auto& w) { w.SaveInterval(30); }},
      {"cache image", [](auto& w) { w.Cache(Record(12.0f)); }},
      {"clock", [](auto& w) { w.Clock(-5); }},
      {"chunk",
       [](auto& w) {
         w.Chunk({0x01, 0x02, 0xED});
       }},
  };
  for (const auto& [name, op] : ops) {
    SCOPED_TRACE(name);
    ProgramWriter w;
    op(w);
    op(w);
    int rounds = 0;
    EXPECT_EQ(RunProgram(0, Round(w, std::vector<std::uint16_t>(32, 1330)), &rounds), "");
    EXPECT_EQ(rounds, 1);
  }
}

TEST(ByteReader, ACutProgramReadsFallbacks) {
  const std::uint8_t bytes[] = {0x12, 0x34, 0x56};
  ByteReader in(bytes, sizeof bytes);
  EXPECT_EQ(in.U16(7), 0x1234);
  EXPECT_EQ(in.U16(7), 7) << "one byte left is no reading";
  EXPECT_TRUE(in.Empty());
  EXPECT_EQ(in.Byte(9), 9);
  EXPECT_TRUE(in.Take(5).empty());
  ByteReader short_take(bytes, sizeof bytes);
  EXPECT_EQ(short_take.Take(5), (std::vector<std::uint8_t>{0x12, 0x34, 0x56}));
}

TEST(InitSettingCheck, RefusalsByTheJsonLibraryAndNonJsonPass) {
  const std::vector<std::string> inputs = {
      "{}",
      "not json",
      R"({"appSetting":{"b_mode":3},"thresholdSetting":[1,2]})",
      R"({"appSetting":{"b_mode":[1]}})",
      R"({"appSetting":{"version":{"a":1},"dir":1}})",
      R"({"appSetting":{"battery_start":2147483647,"amount":99999,"group_index":2}})",
      std::string(5000, '[') + std::string(5000, ']'),
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input.substr(0, 80));
    EXPECT_EQ(CheckInitSetting(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()),
              "");
  }
}

}  // namespace
}  // namespace halvex::fuzz
