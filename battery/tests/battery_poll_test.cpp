// The poll cycle: requests, re-sends, reply checks and the scalar decoding.
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "battery/tests/test_battery.h"

namespace halvex::testing {
namespace {

using Lines = RecordingController::Lines;
constexpr const char* kA1 = "FE FE 81 A1 22";
constexpr const char* kA2 = "FE FE 81 A2 23";
constexpr const char* kA3 = "FE FE 81 A3 24";
constexpr const char* kA4 = "FE FE 81 A4 25";

// What four silent ticks of a freshly started cycle put on the line: three
// re-sends of the cell request, then a new cycle. A re-send count left over
// from before shows as fewer re-sends.
Lines FourSilentTicks(BatteryOnBench& bench) {
  bench.host->Clear();
  for (int i = 0; i < 4; ++i) bench.dev.RefreshStatus();
  return bench.host->Transcript();
}
const Lines kSilentCycle{std::string("SendData ") + kA1, std::string("SendData ") + kA1,
                         std::string("SendData ") + kA1, "RefreshStatus",
                         std::string("SendData ") + kA1};

TEST(PollCycle, FirstTickStartsACycleWithTheCellRequest) {
  BatteryOnBench bench;
  EXPECT_EQ(bench.dev.RefreshStatus(), 1);
  EXPECT_EQ(bench.host->Transcript(), (Lines{"RefreshStatus", std::string("SendData ") + kA1}));
  EXPECT_EQ(bench.dev.call_state_, 1);
  EXPECT_EQ(FourSilentTicks(bench), kSilentCycle)
      << "the cycle starts with its whole re-send budget";
}

TEST(PollCycle, ThreeSilentTicksResendThenTheFourthStartsOver) {
  BatteryOnBench bench;
  bench.dev.RefreshStatus();
  for (int i = 0; i < 4; ++i) bench.dev.RefreshStatus();
  EXPECT_EQ(bench.host->Transcript(),
            (Lines{"RefreshStatus", std::string("SendData ") + kA1, std::string("SendData ") + kA1,
                   std::string("SendData ") + kA1, std::string("SendData ") + kA1, "RefreshStatus",
                   std::string("SendData ") + kA1}));
  EXPECT_EQ(bench.dev.call_state_, 1);
  EXPECT_EQ(FourSilentTicks(bench), kSilentCycle) << "the new cycle has its whole budget again";
}

TEST(PollCycle, ResendBudgetIsSharedByTheWholeCycle) {
  BatteryOnBench bench;
  bench.dev.RefreshStatus();
  bench.Feed(CellReply(0x81, 1330));
  bench.dev.RefreshStatus();  // re-send A2
  bench.Feed(ScalarReply(0x81, 4000));
  bench.dev.RefreshStatus();  // re-send A3
  bench.dev.RefreshStatus();  // re-send A3: budget used up
  bench.Feed(ScalarReply(0x81, 50));
  bench.dev.RefreshStatus();  // A4 is missing, but the budget is gone
  EXPECT_EQ(bench.host->Frames(), (Lines{kA1, kA2, kA2, kA3, kA3, kA3, kA4, kA1}));
  EXPECT_EQ(bench.host->CallsOf(HostCall::Kind::kRefreshStatus).size(), 2u);
  EXPECT_EQ(bench.dev.rounds, 0);
}

TEST(PollCycle, CompleteCycleRunsTheRoundAndMarksDataReady) {
  BatteryOnBench bench;
  bench.dev.RefreshStatus();
  EXPECT_EQ(bench.Feed(CellReply(0x81, 1330)), 1);
  EXPECT_EQ(bench.Feed(ScalarReply(0x81, 4000)), 1);
  EXPECT_EQ(bench.Feed(ScalarReply(0x81, 50)), 1);
  EXPECT_FALSE(bench.dev.data_ready_);
  EXPECT_EQ(bench.Feed(ScalarReply(0x81, 2600)), 0);
  EXPECT_EQ(bench.host->Frames(), (Lines{kA1, kA2, kA3, kA4}));
  EXPECT_EQ(bench.dev.rounds, 1);
  EXPECT_TRUE(bench.dev.data_ready_);
  EXPECT_EQ(bench.dev.call_state_, 0);
  EXPECT_FLOAT_EQ(bench.dev.Get_Value(0, "group_voltage"), 400.0f);
  EXPECT_FLOAT_EQ(bench.dev.Get_Value(0, "group_current"), 5.0f);
  EXPECT_FLOAT_EQ(bench.dev.Get_Value(0, "temperature"), 26.0f);
}

TEST(PollCycle, RequestsAndChunksStampTheExchangeTime) {
  BatteryOnBench bench;
  bench.dev.RefreshStatus();
  EXPECT_EQ(bench.dev.update_time_, bench.host->now);
  bench.host->Advance(5);
  bench.Feed("00");
  EXPECT_EQ(bench.dev.update_time_, bench.host->now);
}

TEST(PollCycle, BadRepliesAbandonTheCycle) {
  struct Case {
    const char* name;
    int state;
    std::vector<unsigned char> reply;
  } cases[] = {
      {"group reply from another address", 2, ScalarReply(0x82, 500)},
      {"group reply with bad checksum", 2, Bytes("ED 81 01 F4 00")},
      {"current reply with bad checksum", 3, Bytes("ED 81 00 10 00")},
      {"temperature reply with bad checksum", 4, Bytes("ED 81 0A 28 00")},
      {"buffer overflow", 3, std::vector<unsigned char>(81, 0xED)},
      {"cell reply from another address", 1, CellReply(0x82, 1330)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BatteryOnBench bench;
    if (c.state == 1) {
      bench.dev.RefreshStatus();
    } else {
      bench.RunTo(c.state);
    }
    const float voltage = bench.dev.group_voltage_, current = bench.dev.group_current_;
    EXPECT_EQ(bench.Feed(c.reply), 0);
    EXPECT_EQ(bench.dev.call_state_, 0);
    EXPECT_EQ(bench.dev.group_voltage_, voltage);
    EXPECT_EQ(bench.dev.group_current_, current);
    EXPECT_EQ(bench.dev.rounds, 0);
    EXPECT_FALSE(bench.dev.data_ready_);
    bench.host->Clear();
    bench.dev.RefreshStatus();  // the next tick starts a new cycle
    EXPECT_EQ(bench.host->Transcript(), (Lines{"RefreshStatus", std::string("SendData ") + kA1}));
  }
}

TEST(PollCycle, SplitScalarRepliesAreGatheredNotRefused) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
  } cases[] = {
      {"3 then 2", {"ED 81 01", "F4 76"}},
      {"1, 1, 3", {"ED", "81", "01 F4 76"}},
      {"noise chunk, then the reply", {"00 13", "ED 81 01 F4 76"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BatteryOnBench bench;
    bench.RunTo(2);
    for (size_t i = 0; i + 1 < c.chunks.size(); ++i) {
      EXPECT_EQ(bench.Feed(c.chunks[i]), 1);
      EXPECT_EQ(bench.dev.call_state_, 2);
    }
    EXPECT_EQ(bench.Feed(c.chunks.back()), 1);
    EXPECT_FLOAT_EQ(bench.dev.group_voltage_, 50.0f);
    EXPECT_EQ(bench.host->Frames().back(), kA3);
  }
}

TEST(PollCycle, PartOfAScalarReplyIsDiscardedByTheResend) {
  BatteryOnBench bench;
  bench.RunTo(2);
  bench.Feed("ED 81 01");
  bench.dev.RefreshStatus();  // re-send A2 clears the partial reply
  EXPECT_EQ(bench.dev.msg_len_, 0u);
  EXPECT_EQ(bench.Feed("ED 81 01 F4 76"), 1);
  EXPECT_FLOAT_EQ(bench.dev.group_voltage_, 50.0f);
}

TEST(PollCycle, BytesAfterAScalarReplyAreDropped) {
  BatteryOnBench bench;
  bench.RunTo(2);
  EXPECT_EQ(bench.Feed("ED 81 01 F4 76 ED 81"), 1);
  EXPECT_FLOAT_EQ(bench.dev.group_voltage_, 50.0f);
  EXPECT_EQ(bench.dev.msg_len_, 0u);
}

TEST(PollCycle, ChunksWhileIdleChangeNothing) {
  BatteryOnBench bench;
  EXPECT_EQ(bench.Feed(ScalarReply(0x81, 500)), 0);
  EXPECT_EQ(bench.dev.group_voltage_, 0.0f);
  EXPECT_EQ(bench.dev.call_state_, 0);
  EXPECT_TRUE(bench.host->calls.empty());
}

TEST(PollCycle, NullChunkIsAnEmptyChunk) {
  BatteryOnBench bench;
  bench.RunTo(2);
  EXPECT_EQ(bench.dev.process(nullptr, 5), 1);
  EXPECT_EQ(bench.dev.msg_len_, 0u);
  EXPECT_EQ(bench.dev.call_state_, 2);
}

TEST(GroupVoltage, ScaleCorrectionAndPeers) {
  struct Case {
    const char* name;
    const char* config;
    unsigned reading;
    float volts;
    bool valid;
  } cases[] = {
      {"0.1 V counts", "{}", 500, 50.0f, true},
      {"0.01 V counts with version 2", R"({"appSetting":{"version":2}})", 500, 5.0f, true},
      {"multiplier then offset", R"({"appSetting":{"group_a":2.0,"group_b":1.5}})", 500, 101.5f,
       true},
      {"peer 7 added without correction", R"({"appSetting":{"group_voltage":[7],"group_a":2.0}})",
       500, 112.5f, true},
      {"peer 9 missing", R"({"appSetting":{"group_voltage":[7,9]}})", 500, 0.0f, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BatteryOnBench bench(c.config);
    bench.host->SetPeerValue(7, "group_voltage", 12.5f);
    bench.host->SetPeerThrows(9, "group_voltage");
    bench.RunTo(2);
    EXPECT_EQ(bench.Feed(ScalarReply(0x81, c.reading)), 1);
    EXPECT_FLOAT_EQ(bench.dev.group_voltage_, c.volts);
    EXPECT_EQ(bench.dev.group_voltage_valid_, c.valid);
    EXPECT_EQ(bench.host->Frames().back(), kA3);  // the cycle goes on either way
  }
}

TEST(GroupVoltage, PeersAreAskedInOrderAndTheFirstFailureStopsTheSum) {
  BatteryOnBench bench(R"({"appSetting":{"group_voltage":[7,9,11]}})");
  bench.host->SetPeerValue(7, "group_voltage", 12.5f);
  bench.host->SetPeerThrows(9, "group_voltage");
  bench.host->SetPeerValue(11, "group_voltage", 1.0f);
  bench.RunTo(2);
  bench.Feed(ScalarReply(0x81, 500));
  EXPECT_EQ(
      bench.host->TranscriptOf({HostCall::Kind::kGetSPValue}),
      (Lines{"Get_SP_Value 7 group_voltage -> 12.5", "Get_SP_Value 9 group_voltage -> throws"}));
  // The peer is back: the next good reply makes the sum valid again.
  bench.host->SetPeerValue(9, "group_voltage", 2.0f);
  bench.Feed(ScalarReply(0x81, 50));
  bench.Feed(ScalarReply(0x81, 2600));
  bench.RunTo(2);
  bench.Feed(ScalarReply(0x81, 500));
  EXPECT_TRUE(bench.dev.group_voltage_valid_);
  EXPECT_FLOAT_EQ(bench.dev.group_voltage_, 65.5f);
}

TEST(Current, SensorPlainAndBorrowed) {
  struct Case {
    const char* name;
    const char* config;
    unsigned reading;
    float amps;
  } cases[] = {
      {"plain 0.1 A counts", "{}", 123, 12.3f},
      {"sensor zero", R"({"appSetting":{"current_ratio":1}})", 2500, 0.0f},
      {"sensor full scale", R"({"appSetting":{"current_ratio":1}})", 5000, 100.0f},
      {"sensor negative full scale", R"({"appSetting":{"current_ratio":1}})", 0, -100.0f},
      {"field without peer id is plain", R"({"appSetting":{"r_current_field":"i"}})", 123, 12.3f},
      {"peer id without field is plain", R"({"appSetting":{"r_data_id":5}})", 123, 12.3f},
      {"borrowed from peer 5", R"({"appSetting":{"r_data_id":5,"r_current_field":"dc_current"}})",
       123, -42.0f},
      {"sensor wins over borrowing",
       R"({"appSetting":{"current_ratio":1,"r_data_id":5,"r_current_field":"dc_current"}})", 2500,
       0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BatteryOnBench bench(c.config);
    bench.host->SetPeerValue(5, "dc_current", -42.0f);
    bench.RunTo(3);
    EXPECT_EQ(bench.Feed(ScalarReply(0x81, c.reading)), 1);
    EXPECT_FLOAT_EQ(bench.dev.group_current_, c.amps);
    EXPECT_EQ(bench.host->Frames().back(), kA4);
  }
}

TEST(Current, MissingBorrowedCurrentKeepsTheLastValue) {
  BatteryOnBench bench(R"({"appSetting":{"r_data_id":5,"r_current_field":"dc_current"}})");
  bench.dev.group_current_ = 7.5f;
  bench.host->SetPeerThrows(5, "dc_current");
  bench.RunTo(3);
  EXPECT_EQ(bench.Feed(ScalarReply(0x81, 123)), 1);
  EXPECT_FLOAT_EQ(bench.dev.group_current_, 7.5f);
  EXPECT_EQ(bench.host->Frames().back(), kA4);
}

TEST(Temperature, OnlyReadingsInTheSensorRangeAreKept) {
  struct Case {
    unsigned reading;
    float celsius;
  } cases[] = {{2600, 26.0f},  {0, 21.5f},     {10000, 100.0f},
               {10001, 21.5f}, {65535, 21.5f}, {1, 0.01f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reading);
    BatteryOnBench bench;
    bench.dev.temperature_ = 21.5f;
    bench.RunTo(4);
    EXPECT_EQ(bench.Feed(ScalarReply(0x81, c.reading)), 0);
    EXPECT_FLOAT_EQ(bench.dev.temperature_, c.celsius);
    EXPECT_EQ(bench.dev.rounds, 1);  // the round completes either way
  }
}

TEST(Values, NamesAreExactAndCaseSensitive) {
  BatteryOnBench bench;
  bench.dev.temperature_ = 25.0f;
  EXPECT_FLOAT_EQ(bench.dev.Get_Value(0, "temperature"), 25.0f);  // no readiness test here
  for (const char* name : {"Temperature", "group_voltage ", "", "battery_0_value"}) {
    SCOPED_TRACE(name);
    try {
      bench.dev.Get_Value(0, name);
      ADD_FAILURE() << "expected std::out_of_range";
    } catch (const std::out_of_range& e) {
      EXPECT_STREQ(e.what(), "不支持变量");
    }
  }
}

TEST(IoControl, HistoryIntervalInMinutes) {
  struct Case {
    const char* name;
    int code;
    bool null_in;
    int in_len;
    std::uint16_t minutes;
    int result;
    std::int32_t seconds;
  } cases[] = {
      {"30 minutes", 100, false, 2, 30, 0, 1800},
      {"0 minutes is the default", 100, false, 2, 0, 0, 28800},
      {"largest count", 100, false, 2, 65535, 0, 3932100},
      {"other codes do nothing", 101, false, 2, 30, 0, 600},
      {"no input", 100, true, 2, 30, -1, 600},
      {"one byte of input", 100, false, 1, 30, -1, 600},
      {"negative length", 100, false, -4, 30, -1, 600},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BatteryOnBench bench(R"({"appSetting":{"save_interval":10}})");
    unsigned char in[3] = {};
    std::memcpy(in + 1, &c.minutes, 2);  // odd address: no alignment assumed
    int out_size = 77;
    EXPECT_EQ(bench.dev.DeviceIoControl(c.code, c.null_in ? nullptr : in + 1, c.in_len, nullptr, 0,
                                        out_size),
              c.result);
    EXPECT_EQ(bench.dev.save_interval_, c.seconds);
    EXPECT_EQ(out_size, 77);
  }
}

}  // namespace
}  // namespace halvex::testing
