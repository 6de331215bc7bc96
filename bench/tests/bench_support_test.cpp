// The measurements are only worth their numbers if they measure the real
// thing: a round that runs to the history hand-over, a baseline that answers
// exactly what the plug-in answers, and a summary that divides the right way.
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bench/poll_round.h"
#include "bench/regex_query.h"
#include "bench/result_summary.h"
#include "runner/recording/recording_controller.h"

namespace halvex::bench {
namespace {

using runner::recording::HostCall;
using runner::recording::RecordingController;

struct Rig {
  explicit Rig(DevicePtr d, const Json::Value& config = TypicalConfig()) : device(std::move(d)) {
    SetUpDevice(*device, host, config);
  }
  std::shared_ptr<RecordingController> host = std::make_shared<RecordingController>();
  DevicePtr device;
  MonitorReplies replies{kWireAddress};
};

TEST(PollRound, EveryChunkingRunsTheWholeRoundToHistory) {
  const unsigned chunks[] = {wire::kCellReplyLength, 8, 1};
  for (unsigned chunk : chunks) {
    SCOPED_TRACE("cell reply in chunks of " + std::to_string(chunk));
    for (const Json::Value& config : {TypicalConfig(), ThresholdTableConfig()}) {
      Rig rig(DevicePtr(LinkedProvider().create()), config);
      for (int round = 1; round <= 2; ++round) {
        rig.host->Clear();
        ASSERT_TRUE(RunPollRound(*rig.device, rig.replies, chunk)) << "round " << round;
        EXPECT_EQ(rig.host->Frames(),
                  (RecordingController::Lines{"FE FE 81 A1 22", "FE FE 81 A2 23", "FE FE 81 A3 24",
                                              "FE FE 81 A4 25"}));
        EXPECT_EQ(rig.host->CallsOf(HostCall::Kind::kCheckThreshold).size(),
                  static_cast<std::size_t>(kChecksPerRound));
        EXPECT_EQ(rig.host->CallsOf(HostCall::Kind::kSendSP).size(), 1u);
        EXPECT_EQ(rig.host->CallsOf(HostCall::Kind::kSaveDeviceHistory).size(), 1u);
      }
    }
  }
}

// The set-up benchmarks are named after what their configurations make the
// device do; a table the device skipped would time next to nothing.
TEST(Configurations, DoWhatTheBenchmarkNamesSay) {
  struct Case {
    const char* label;
    Json::Value config;
    int table_lines;  // one "mobile:" line per threshold key read
  };
  const Case cases[] = {
      {"typical: mode 1, no table", TypicalConfig(), 0},
      {"threshold table: mode 3, all 33 values", ThresholdTableConfig(),
       static_cast<int>(kChecksPerRound)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ::testing::internal::CaptureStdout();
    Rig rig(DevicePtr(LinkedProvider().create()), c.config);
    const std::string log = ::testing::internal::GetCapturedStdout();
    int table_lines = 0;
    for (std::size_t at = log.find("\nmobile:"); at != std::string::npos;
         at = log.find("\nmobile:", at + 1))
      ++table_lines;
    EXPECT_EQ(table_lines, c.table_lines) << log;
    EXPECT_EQ(log.find("is missing"), std::string::npos) << log;
    EXPECT_EQ(log.rfind("InitSetting 7 b_mode_:", 0), 0u) << log;
  }
}

// The benchmarks rely on RunPollRound to notice a round that broke off,
// or they would time a cheap failure path as if it were a round.
TEST(PollRound, ARoundThatBreaksOffIsReported) {
  struct Case {
    const char* label;
    unsigned char address;  // the monitor's answers come from here
    void (*spoil)(MonitorReplies&);
  };
  const Case cases[] = {
      {"another monitor answers", 0x82, [](MonitorReplies&) {}},
      {"cell reply checksum wrong", kWireAddress, [](MonitorReplies& r) { r.cells.back() ^= 1; }},
      {"group voltage reply cut short", kWireAddress,
       [](MonitorReplies& r) { r.group_voltage.pop_back(); }},
      {"current reply from a stranger", kWireAddress,
       [](MonitorReplies& r) { r.current[1] = 0x05; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Rig rig(DevicePtr(LinkedProvider().create()));
    MonitorReplies replies(c.address);
    c.spoil(replies);
    EXPECT_FALSE(RunPollRound(*rig.device, replies));
    EXPECT_TRUE(rig.host->CallsOf(HostCall::Kind::kSaveDeviceHistory).empty());
  }
}

TEST(PollRound, DecodedValuesAreTheMonitorsReadings) {
  Rig rig(DevicePtr(LinkedProvider().create()));
  ASSERT_TRUE(RunPollRound(*rig.device, rig.replies));
  // 1320 + 17 % 7 hundredths, plus the configured 0.02 V adjustment.
  EXPECT_FLOAT_EQ(rig.device->Get_Value(0, "battery_17_value"), 13.23f + 0.02f);
  EXPECT_FLOAT_EQ(rig.device->Get_Value(0, "group_voltage"), 400.0f);
  EXPECT_FLOAT_EQ(rig.device->Get_Value(0, "group_current"), 5.0f);
  EXPECT_FLOAT_EQ(rig.device->Get_Value(0, "temperature"), 26.0f);
}

TEST(PollRound, CachedRecordIsTaken) {
  Rig rig(DevicePtr(LinkedProvider().create()));
  std::vector<unsigned char> image = CachedRecord();
  ASSERT_EQ(image.size(), 152u);
  ASSERT_TRUE(rig.device->LoadFromCache(image.data(), static_cast<int>(image.size())));
  EXPECT_FLOAT_EQ(rig.device->Get_Value(0, "battery_3_value"), 13.23f);
  EXPECT_FLOAT_EQ(rig.device->Get_Value(0, "temperature"), 26.0f);
}

// The baseline differs from the plug-in only in how it matches names; any
// other difference would make the ratio compare different work.
TEST(RegexBaseline, AnswersEveryNameAsThePluginDoes) {
  Rig ours(DevicePtr(LinkedProvider().create()));
  Rig baseline(DevicePtr(new RegexQueryHalvex30()));
  const std::string names[] = {
      "battery_17_value", "battery_0_value",
      "battery_29_value", "battery_30_value",
      "battery_05_value", "x_battery_5_value_y",
      "battery__value",   "battery_1_2_value",
      "group_voltage",    "group_current",
      "temperature",      "Temperature",
      "string_power",     "",
  };
  auto answer = [](const QorvSPDevice& device, const std::string& name) {
    try {
      return std::to_string(device.Get_Value(0, name));
    } catch (const std::out_of_range& e) {
      return std::string("throws ") + e.what();
    }
  };
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "before any round" : "after a round");
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      EXPECT_EQ(answer(*baseline.device, name), answer(*ours.device, name));
    }
    RunPollRound(*ours.device, ours.replies);
    RunPollRound(*baseline.device, baseline.replies);
  }
  ours.host->Advance(61);
  baseline.host->Advance(61);
  EXPECT_EQ(answer(*baseline.device, "battery_1_value"), answer(*ours.device, "battery_1_value"));
}

TEST(Summary, RatiosDivideTheBaselineByOurTimeAndJudgeTheTargets) {
  struct Case {
    const char* label;
    double ours_ns;
    double baseline_ns;
    const char* expected;
  };
  const Case cases[] = {
      {"well ahead", 80.0, 20000.0,
       "cell query: 80.0 ns, baseline regex: 20000.0 ns, ratio Y/X = 250.0 (target >= 100): met"},
      {"exactly on target", 200.0, 20000.0, "ratio Y/X = 100.0 (target >= 100): met"},
      {"short of it", 400.0, 20000.0, "ratio Y/X = 50.0 (target >= 100): NOT MET"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Timings timings = {{names::kCellQuery, c.ours_ns}, {names::kCellBaseline, c.baseline_ns}};
    const std::vector<std::string> lines = SummaryLines(timings);
    bool found = false;
    for (const std::string& line : lines)
      found = found || line.find(c.expected) != std::string::npos;
    EXPECT_TRUE(found) << ::testing::PrintToString(lines);
  }
}

TEST(Summary, RoundIsJudgedAgainstItsShareOfTheWireTime) {
  // 102 bytes at 19200 bit/s: 53.125 ms; 0.05 % of it is 26.56 us.
  EXPECT_EQ(kRoundBytes, 102u);
  const struct {
    double ns;
    const char* verdict;
  } cases[] = {{26000.0, "): met"}, {27000.0, "): NOT MET"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ns);
    const std::string line = SummaryLines({{names::kRoundWallClock, c.ns}}).at(0);
    EXPECT_NE(line.find("of the 53.1 ms on the wire (budget 0.05 % = 26.6 us)"), std::string::npos)
        << line;
    EXPECT_NE(line.find(c.verdict), std::string::npos) << line;
  }
}

TEST(Summary, MissingFiguresSayNotRun) {
  const std::vector<std::string> lines = SummaryLines({{names::kCellQuery, 90.0}});
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "poll round (wall clock): not run");
  EXPECT_EQ(lines[2], "cell query: not run");
}

benchmark::BenchmarkReporter::Run TimedRun(const std::string& name, benchmark::TimeUnit unit,
                                           double cpu_seconds, benchmark::IterationCount n) {
  benchmark::BenchmarkReporter::Run run;
  run.run_name.function_name = name;
  run.time_unit = unit;
  run.iterations = n;
  run.cpu_accumulated_time = cpu_seconds;
  run.real_accumulated_time = cpu_seconds;
  return run;
}

struct QuietReporter : CollectingReporter {
  QuietReporter() { SetOutputStream(&out); }
  std::ostringstream out;
};

TEST(CollectingReporter, KeepsNanosecondsPerOperationWhateverTheDisplayUnit) {
  // 2 ms of CPU over 1000 iterations is 2000 ns an operation, however shown.
  for (benchmark::TimeUnit unit : {benchmark::kNanosecond, benchmark::kMicrosecond,
                                   benchmark::kMillisecond, benchmark::kSecond}) {
    SCOPED_TRACE(benchmark::GetTimeUnitString(unit));
    QuietReporter reporter;
    reporter.ReportRuns({TimedRun("poll_round/wall_clock", unit, 0.002, 1000)});
    EXPECT_DOUBLE_EQ(reporter.CpuNanoseconds().at("poll_round/wall_clock"), 2000.0);
  }
}

TEST(CollectingReporter, TakesTheMedianOfRepetitionsAndKeepsFailuresOut) {
  QuietReporter reporter;
  reporter.ReportRuns({TimedRun("odd", benchmark::kNanosecond, 3e-6, 1),
                       TimedRun("odd", benchmark::kNanosecond, 1e-6, 1),
                       TimedRun("odd", benchmark::kNanosecond, 2e-6, 1)});
  reporter.ReportRuns({TimedRun("even", benchmark::kNanosecond, 4e-6, 1),
                       TimedRun("even", benchmark::kNanosecond, 1e-6, 1)});
  // Shown aggregates only: the run's own median stands.
  auto median = TimedRun("aggregated", benchmark::kNanosecond, 7e-6, 1);
  median.run_type = benchmark::BenchmarkReporter::Run::RT_Aggregate;
  median.aggregate_name = "median";
  auto mean = median;
  mean.aggregate_name = "mean";
  mean.cpu_accumulated_time = 9e-6;
  reporter.ReportRuns({mean, median});
  auto broken = TimedRun("broken", benchmark::kNanosecond, 1e-6, 1);
  broken.error_occurred = true;
  broken.error_message = "a known name was refused";
  reporter.ReportRuns({broken});

  const Timings timings = reporter.CpuNanoseconds();
  EXPECT_NEAR(timings.at("odd"), 2000.0, 1e-6);
  EXPECT_NEAR(timings.at("even"), 2500.0, 1e-6);
  EXPECT_NEAR(timings.at("aggregated"), 7000.0, 1e-6);
  EXPECT_EQ(timings.count("broken"), 0u);
  EXPECT_EQ(reporter.Failures(), std::vector<std::string>{"broken: a known name was refused"});
}

}  // namespace
}  // namespace halvex::bench
