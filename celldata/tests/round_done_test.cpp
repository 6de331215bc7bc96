// The end of a round: the order of the host calls, the image that is
// published and stored, the host's analog and rule checks, and the
// template's own cache load, which runs a round.
#include <string>

#include <gtest/gtest.h>

#include "celldata/uni_data_device.h"
#include "string_rig.h"

namespace {

using namespace celltest;
using Lines = RecordingController::Lines;
using Kind = HostCall::Kind;

Bytes Stamp(const boost::posix_time::ptime& t) {
  const TTime stamp = get_ttime(t);
  return Bytes(stamp.bytes, stamp.bytes + 7);
}

// Published and stored images must be the same bytes: this round's readings
// under this round's stamp, from the very first round on.
TEST(RoundDone, PublishesTheRoundsOwnReadingsAfterTheChecks) {
  Rig<> rig;
  const struct {
    std::uint16_t reading;
    const char* volts;
  } rounds[] = {{1200, "12"}, {1275, "12.75"}};
  for (const auto& [reading, volts] : rounds) {
    SCOPED_TRACE(volts);
    rig.host->Advance(30);
    rig.host->Clear();
    rig.Round(Same(30, reading));
    const Lines transcript = rig.host->Transcript();
    const Lines tail(transcript.end() - 38, transcript.end());
    EXPECT_EQ(
        Lines(tail.begin(), tail.begin() + 4),
        (Lines{"SendData FE FE 81 A4 25", "Reset", "CheckThreshold group_voltage 整组电压 50 1",
               "CheckThreshold group_current 电流 12.3 1"}));
    EXPECT_EQ(Lines(tail.end() - 4, tail.end()),
              (Lines{"CheckThreshold battery_29_value 第30节电池 " + std::string(volts) + " 30",
                     "SendSP 5013 152 bytes false", "DoBatchCheckThreshold 0 rules -> false",
                     "SaveDeviceHistory 152 bytes"}));
    const Bytes published = rig.Published();
    EXPECT_EQ(published, rig.host->CallsOf(Kind::kSaveDeviceHistory).back().bytes);
    EXPECT_EQ(F32(published, 4), reading / 100.0f);
    EXPECT_EQ(Bytes(published.begin() + 145, published.end()), Stamp(rig.host->now));
  }
}

TEST(RoundDone, AnalogSignalsRuleBatchAndChangedFlag) {
  Rig<> rig;
  rig.Round(Same(30, 1200));
  rig.dev.ao_names_ = {"a", "missing", "a"};
  rig.dev.ao_values_ = {{"a", 1.5f}};
  rig.dev.rule_values_.resize(2);
  rig.host->ao_report_result = true;
  rig.host->Clear();
  testing::internal::CaptureStdout();
  rig.Round(Same(30, 1200));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "rvSize is 2\n");
  const Lines transcript = rig.host->Transcript();
  EXPECT_EQ(
      Lines(transcript.end() - 7, transcript.end()),
      (Lines{"SendSP 5013 152 bytes false", "CheckAOReport a 1.5 -> true",
             "CheckThreshold a  1.5 1", "CheckAOReport a 1.5 -> true", "CheckThreshold a  1.5 1",
             "DoBatchCheckThreshold 2 rules -> false", "SaveDeviceHistory 152 bytes"}));
  EXPECT_EQ(rig.dev.ao_values_.count("missing"), 0u);
  EXPECT_TRUE(rig.dev.rule_values_.empty());
  EXPECT_TRUE(rig.dev.data_changed_);
  struct Case {
    const char* name;
    bool ao_report, batch, changed;
  } cases[] = {{"nothing found: cleared", false, false, false},
               {"rule fired", false, true, true},
               {"analog report", true, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rig.host->ao_report_result = c.ao_report;
    rig.host->batch_result = c.batch;
    rig.Round(Same(30, 1200));
    EXPECT_EQ(rig.dev.data_changed_, c.changed);
  }
}

class TemplateDevice : public UniDataDevice<Battery32_Data_t, Battery, 5013> {
 public:
  int ProcessBatteryVoltage() override { return 0; }
};

TEST(RoundDone, TemplateCacheLoadRunsARoundOnTheImage) {
  auto host = std::make_shared<RecordingController>();
  TemplateDevice dev;
  dev.Init(host, 7, Json::Value());
  Bytes image(153);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i);
  EXPECT_FALSE(dev.LoadFromCache(image.data(), 153));
  EXPECT_FALSE(dev.LoadFromCache(image.data(), 151));
  EXPECT_FALSE(dev.LoadFromCache(nullptr, 152));
  EXPECT_TRUE(host->calls.empty());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(dev.LoadFromCache(image.data(), 152));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "rvSize is 0\n");
  EXPECT_EQ(host->Transcript(),
            (Lines{"Reset", "SendSP 5013 152 bytes false", "DoBatchCheckThreshold 0 rules -> false",
                   "SaveDeviceHistory 152 bytes"}));
  Bytes expected(image.begin(), image.begin() + 145);
  const Bytes stamp = Stamp(host->now);
  expected.insert(expected.end(), stamp.begin(), stamp.end());
  EXPECT_EQ(host->CallsOf(Kind::kSendSP)[0].bytes, expected);
  EXPECT_EQ(host->CallsOf(Kind::kSaveDeviceHistory)[0].bytes, expected);
}

}  // namespace
