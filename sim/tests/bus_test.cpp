// Several monitors on one line: who answers, what is counted and logged.

#include "sim/bus.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

MonitorProfile At(uint8_t address) {
  MonitorProfile p;
  p.address = address;
  p.drift_volts = 0;
  p.noise_volts = 0;
  return p;
}

class BusTest : public ::testing::Test {
 protected:
  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  Bus bus_{BusOptions{}, clock_};
};

TEST_F(BusTest, OnlyTheAddressedMonitorAnswers) {
  MonitorProfile second = At(0x82);
  second.temperature_c = 31.0;
  bus_.AddMonitor(At(0x81));
  bus_.AddMonitor(second);
  EXPECT_EQ(Join(bus_.Feed(EncodeRequest(0x81, Command::kTemperature))),
            EncodeScalarReply(0x81, 2500));
  EXPECT_EQ(Join(bus_.Feed(EncodeRequest(0x82, Command::kTemperature))),
            EncodeScalarReply(0x82, 3100));
  EXPECT_TRUE(bus_.Feed(EncodeRequest(0x83, Command::kTemperature)).empty());
}

TEST_F(BusTest, CountsEveryKindOfRequest) {
  bus_.AddMonitor(At(0x81));
  Bytes line;
  auto add = [&line](const Bytes& bytes) { line.insert(line.end(), bytes.begin(), bytes.end()); };
  add(EncodeRequest(0x81, Command::kCellVoltages));
  add({0xFE, 0xFE, 0x81, 0xA2, 0x00});  // bad checksum
  add(EncodeRequest(0x90, Command::kCurrent));
  add(EncodeRequest(0x81, 0x55));
  add(EncodeRequest(0x81, Command::kTemperature));
  // Heard in awkward pieces, as reads off a port come.
  for (size_t i = 0; i < line.size(); i += 3) {
    bus_.Hear(Bytes(line.begin() + i, line.begin() + std::min(line.size(), i + 3)));
  }
  const Counters& c = bus_.counters();
  EXPECT_EQ(c.requests, 4u);
  EXPECT_EQ(c.replies, 2u);
  EXPECT_EQ(c.bad_checksums, 1u);
  EXPECT_EQ(c.other_address, 1u);
  EXPECT_EQ(c.unknown_commands, 1u);
}

TEST_F(BusTest, SilencesCoverLaterRequestsAndAreCounted) {
  MonitorProfile scripted = At(0x81);
  Event silence;
  silence.at_s = 1;
  silence.for_s = 2;
  scripted.events = {silence};
  bus_.AddMonitor(scripted);
  FaultPlan plan;
  plan[Fault::kSilence].count = 1;
  plan.silence_s = 2;
  bus_.AddMonitor(At(0x82), plan);

  // Request each monitor every half second for four seconds.
  std::string heard81, heard82;
  for (int i = 0; i < 8; ++i) {
    heard81 += bus_.Feed(EncodeRequest(0x81, Command::kCurrent)).empty() ? '-' : 'r';
    heard82 += bus_.Feed(EncodeRequest(0x82, Command::kCurrent)).empty() ? '-' : 'r';
    clock_->Advance(Micros{500'000});
  }
  EXPECT_EQ(heard81, "rr----rr");  // scripted: quiet from 1 s until 3 s
  EXPECT_EQ(heard82, "----rrrr");  // injected at 0 s for 2 s
  EXPECT_EQ(bus_.counters().silent, 8u);
  EXPECT_EQ(bus_.counters().fault(Fault::kSilence), 1u);
  EXPECT_EQ(bus_.counters().replies, 8u);
}

TEST_F(BusTest, LogsEachExchangeInHex) {
  FaultPlan plan;
  plan[Fault::kDrop].count = 1;
  bus_.AddMonitor(At(0x01), plan);
  std::string log;
  bus_.SetListener([&log](const Exchange& e) { log += FormatExchange(e); });
  bus_.Hear(EncodeRequest(0x01, Command::kCurrent));
  bus_.Hear(EncodeRequest(0x01, Command::kTemperature));
  bus_.Hear(EncodeRequest(0x02, Command::kTemperature));
  EXPECT_EQ(log,
            "> FE FE 01 A3 A4\n< -  (drop)\n"
            "> FE FE 01 A4 A5\n< ED 01 09 C4 CE\n"
            "> FE FE 02 A4 A6\n< -  (other address)\n");
}

}  // namespace
}  // namespace sim
