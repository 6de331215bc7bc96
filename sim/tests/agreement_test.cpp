// The simulated monitor and the real Halvex30 agree: every record the
// device publishes carries exactly the values the monitor encoded in the
// replies it accepted, over many rounds of clean, split, noisy and lossy
// lines, for each way the monitor can be set up.

#include <cmath>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "agreement_rig.h"

namespace sim::agreement {
namespace {

constexpr uint64_t kRounds = 40;  // one second apart, so events at 10 s have time to act

struct Case {
  const char* name;
  std::function<void(RigSetup&)> setup;
  bool lossless;  // every round must complete, with no re-send or refusal
  std::function<void(const AgreementRig&)> check;
};

void ExpectSameValues(const Values& got, const Values& want) {
  for (int i = 0; i < kStringCells; ++i) EXPECT_EQ(got.cells[i], want.cells[i]) << "cell " << i;
  EXPECT_EQ(got.group, want.group);
  EXPECT_EQ(got.current, want.current);
  EXPECT_EQ(got.temperature, want.temperature);
}

// The string itself, not only its counts: every decoded value lies within
// one count of the monitor's state when it was asked (a scale that both
// sides got wrong together would show here), and a block reads 0.0 only
// when it sits at or beyond the edge of its window.
void ExpectNearProfile(const PublishedRound& round, const Monitor& monitor) {
  const MonitorProfile& profile = monitor.profile();
  const Values got = DecodedOf(round.record);
  const StringState cells = monitor.StateAt(round.asked_at[0]);
  const CellWindow window = WindowOf(profile.cell_type);
  const double cell_count = profile.cell_type == CellType::kSixVolt ? 0.001 : 0.01;
  for (int i = 0; i < kStringCells; ++i) {
    const double volts = cells.cell_volts[i];
    if (got.cells[i] == 0.0f) {
      EXPECT_TRUE(volts < window.low + cell_count || volts > window.high - cell_count)
          << "cell " << i << " at " << volts << " V read as 0.0";
    } else {
      EXPECT_NEAR(got.cells[i], volts, cell_count) << "cell " << i;
    }
  }
  const double group = monitor.StateAt(round.asked_at[1]).group_volts;
  if (group > 41.0) {
    EXPECT_NEAR(got.group, group, profile.group_scale == GroupScale::kCentiVolt ? 0.01 : 0.1);
  }
  const double amps = monitor.StateAt(round.asked_at[2]).current_amps;
  EXPECT_NEAR(got.current, amps, profile.current_encoding == CurrentEncoding::kSensor ? 0.04 : 0.1);
  const double celsius = monitor.StateAt(round.asked_at[3]).temperature_c;
  if (celsius > 0.01 && celsius < 100.0) {
    EXPECT_NEAR(got.temperature, celsius, 0.01);
  }
}

int FailuresSoFar() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

void Flat(MonitorProfile& p) {
  p.drift_volts = 0;
  p.noise_volts = 0;
}

const Case kCases[] = {
    {"clean 12 V string, drifting and noisy", [](RigSetup&) {}, true, nullptr},
    {"replies split in up to 8 pieces",
     [](RigSetup& s) {
       s.monitor.faults[Fault::kSplit].rate = 1.0;
       s.monitor.faults.split_max_chunks = 8;
     },
     true, nullptr},
    {"noise before every reply", [](RigSetup& s) { s.monitor.faults[Fault::kNoise].rate = 1.0; },
     true, nullptr},
    {"trailing bytes after every reply",
     [](RigSetup& s) { s.monitor.faults[Fault::kTrailing].rate = 1.0; }, true, nullptr},
    {"noise, trailing bytes and splits together",
     [](RigSetup& s) {
       for (Fault f : {Fault::kNoise, Fault::kTrailing, Fault::kSplit})
         s.monitor.faults[f].rate = 0.7;
     },
     true, nullptr},
    {"dropped replies are asked for again",
     [](RigSetup& s) { s.monitor.faults[Fault::kDrop].rate = 0.25; }, false,
     [](const AgreementRig& rig) {
       EXPECT_GT(rig.tally().resends, 0u);
       EXPECT_EQ(rig.tally().refused(), 0u);
       EXPECT_GE(rig.tally().rounds_completed, kRounds / 2);
     }},
    {"6 V blocks in millivolts",
     [](RigSetup& s) {
       s.monitor.profile.cell_type = CellType::kSixVolt;
       s.monitor.profile.cell_volts = {6.8};
       s.app_setting["battery_type"] = 6;
     },
     true, nullptr},
    {"group voltage in hundredths (version 2)",
     [](RigSetup& s) {
       s.monitor.profile.group_scale = GroupScale::kCentiVolt;
       s.app_setting["version"] = 2;
     },
     true, nullptr},
    {"sensor-encoded current, discharging",
     [](RigSetup& s) {
       s.monitor.profile.current_encoding = CurrentEncoding::kSensor;
       s.monitor.profile.current_amps = -37.5;
       s.app_setting["current_ratio"] = 1;
     },
     true, nullptr},
    {"a block sagging below its window reads 0.0",
     [](RigSetup& s) {
       Event sag;
       sag.kind = Event::Kind::kCellDrop;
       sag.at_s = 10;
       sag.ramp_s = 20;
       sag.cell = 4;
       sag.value = 5.0;
       s.monitor.profile.events = {sag};
     },
     true,
     [](const AgreementRig& rig) {
       EXPECT_NE(DecodedOf(rig.rounds().front().record).cells[4], 0.0f);
       const Values last = DecodedOf(rig.rounds().back().record);
       EXPECT_EQ(last.cells[4], 0.0f);
       EXPECT_NE(last.cells[3], 0.0f);
     }},
    {"both window edges are inside it",
     [](RigSetup& s) {
       Flat(s.monitor.profile);
       s.monitor.profile.cell_volts.assign(30, 13.3);
       s.monitor.profile.cell_volts[0] = 9.0;
       s.monitor.profile.cell_volts[1] = 15.0;
       s.monitor.profile.cell_volts[2] = 8.99;
       s.monitor.profile.cell_volts[3] = 15.01;
     },
     true,
     [](const AgreementRig& rig) {
       const Values v = DecodedOf(rig.rounds().back().record);
       EXPECT_EQ(v.cells[0], 9.0f);
       EXPECT_EQ(v.cells[1], 15.0f);
       EXPECT_EQ(v.cells[2], 0.0f);
       EXPECT_EQ(v.cells[3], 0.0f);
     }},
    {"a monitor without string input: the group is the cells' sum",
     [](RigSetup& s) { s.monitor.profile.group_volts = 0.0; }, true,
     [](const AgreementRig& rig) {
       EXPECT_GT(DecodedOf(rig.rounds().back().record).group, 390.0f);
     }},
    {"an overheated sensor leaves the last temperature",
     [](RigSetup& s) {
       Event heat;
       heat.kind = Event::Kind::kTemperatureRise;
       heat.at_s = 10;
       heat.value = 120.0;
       s.monitor.profile.events = {heat};
       s.monitor.profile.temperature_c = 24.5;
     },
     true,
     [](const AgreementRig& rig) {
       const PublishedRound& last = rig.rounds().back();
       EXPECT_EQ(last.sent.temperature, 12000);
       EXPECT_EQ(DecodedOf(last.record).temperature, 24.5f);
     }},
};

TEST(Agreement, DeviceRecordsCarryWhatTheMonitorSent) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    RigSetup setup;
    setup.monitor.profile.current_amps = 12.3;
    c.setup(setup);
    AgreementRig rig(setup);
    const int failures = FailuresSoFar();
    // In two runs, so a cycle held back between them is finished too.
    rig.RunRounds(kRounds / 2);
    rig.RunRounds(kRounds - kRounds / 2);
    const Tally& tally = rig.tally();
    EXPECT_EQ(tally.rounds_started, kRounds);
    ASSERT_FALSE(rig.rounds().empty());
    if (c.lossless) {
      EXPECT_EQ(tally.rounds_completed, kRounds);
      EXPECT_EQ(tally.resends, 0u);
      EXPECT_EQ(tally.refused(), 0u);
    }
    for (size_t i = 0; i < rig.rounds().size() && FailuresSoFar() == failures; ++i) {
      SCOPED_TRACE("round " + std::to_string(i));  // the first failing round is enough
      const PublishedRound& round = rig.rounds()[i];
      ExpectSameValues(DecodedOf(round.record), round.expected);
      ExpectNearProfile(round, rig.monitor());
    }
    EXPECT_EQ(tally.differing, 0u);
    if (c.check) c.check(rig);
  }
}

// Corruption shows up as refused replies; a value that differs from what the
// monitor meant must come from a corrupted reply the checksum let through.
TEST(Agreement, OnlyCorruptedRepliesThatPassTheChecksumChangeValues) {
  RigSetup setup;
  setup.monitor.faults[Fault::kCorrupt].rate = 0.3;
  setup.monitor.faults[Fault::kSplit].rate = 0.5;
  AgreementRig rig(setup);
  rig.RunRounds(200);
  const Tally& tally = rig.tally();
  EXPECT_GT(tally.refused(), 0u);
  EXPECT_LE(tally.refused(), rig.bus().counters().fault(Fault::kCorrupt));
  EXPECT_GT(tally.rounds_completed, 0u);
  for (const PublishedRound& round : rig.rounds()) {
    if (!round.corrupted) {
      EXPECT_TRUE(DecodedOf(round.record) == round.expected);
    }
  }
  EXPECT_LE(tally.differing, tally.corrupted_accepted);
  // The checksum lets a changed byte through about once in 16,000 corrupted
  // replies; a device that skipped a check would take dozens here.
  EXPECT_LT(tally.expected_undetected, 0.1);
  EXPECT_LE(tally.corrupted_taken, 2u);
  EXPECT_LE(tally.corrupted_accepted, tally.corrupted_taken);
}

// Over tens of thousands of corrupted replies the ones the device takes
// follow the odds worked out from each clean frame: the rig's estimate of
// slipped-through corruption is the device's behaviour, not a guess.
TEST(Agreement, CorruptedRepliesTakenFollowTheChecksumsOdds) {
  RigSetup setup;
  setup.seed = 5;
  setup.monitor.faults[Fault::kCorrupt].rate = 1.0;
  AgreementRig rig(setup);
  rig.RunRounds(50000);
  const Tally& tally = rig.tally();
  ASSERT_GT(tally.expected_undetected, 10.0);  // enough aliasing sums to judge
  const double spread = 3.0 * std::sqrt(tally.expected_undetected) + 1.0;
  EXPECT_NEAR(static_cast<double>(tally.corrupted_taken), tally.expected_undetected, spread);
}

// The run's estimate of corrupted frames that slip through rests on
// UndetectedChance; try every single-byte change of a cell reply on the
// device and count the ones it takes.
TEST(Agreement, UndetectedChanceMatchesEveryByteChangeOnTheDevice) {
  constexpr uint8_t kAddress = 0x81;
  for (unsigned sum : {0u, 1u, 2u, 100u, 253u, 254u, 255u}) {
    SCOPED_TRACE("8-bit sum " + std::to_string(sum));
    std::array<uint16_t, kCellReadings> readings{};
    readings[5] = static_cast<uint16_t>((sum - kAddress) & 0xFF);  // address + payload = sum
    const Bytes clean = EncodeCellReply(kAddress, readings);

    auto host = std::make_shared<runner::recording::RecordingController>();
    Halvex30 device;
    Configure(device, host, Json::objectValue);
    const Bytes bad_scalar{kReplyStart, 0x00, 0x00, 0x00, 0x00};
    int taken = 0;
    for (size_t at = 0; at < clean.size(); ++at) {
      for (int change = 1; change <= 0xFF; ++change) {
        Bytes frame = clean;
        frame[at] ^= static_cast<uint8_t>(change);
        device.RefreshStatus();  // a cell request: the last cycle ended or is re-asked
        if (device.process(frame.data(), static_cast<unsigned>(frame.size())) == 1 &&
            host->calls.back().bytes.at(3) == static_cast<uint8_t>(Command::kGroupVoltage)) {
          ++taken;
          Bytes end = bad_scalar;  // end the cycle, so the next tick asks for cells again
          device.process(end.data(), static_cast<unsigned>(end.size()));
        }
        host->Clear();
      }
    }
    const double trials = static_cast<double>(clean.size()) * 255.0;
    EXPECT_EQ(taken, static_cast<int>(UndetectedChance(clean) * trials + 0.5));
  }
}

}  // namespace
}  // namespace sim::agreement
