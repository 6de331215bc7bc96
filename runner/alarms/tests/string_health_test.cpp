#include "runner/alarms/string_health.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner/alarms/health_alarms.h"

namespace runner {
namespace {

TEST(StringHealthTest, MeanPopulationSigmaSpreadAndDeviationsOverTheReadingsOnly) {
  struct Case {
    const char* name;
    std::vector<CellReading> readings;
    double mean_v, sigma_mv, spread_mv;
    int worst;  // cell number
    double worst_mv;
  };
  const Case cases[] = {
      {"one block low: population sigma, not sample",
       {{1, 13.30f}, {2, 13.30f}, {3, 13.30f}, {4, 13.18f}},
       13.27,
       51.9615,
       120.0,
       4,
       -90.0},
      {"empty slots and unreadable blocks are no cells",
       {{31, 13.30f}, {32, 0.0f}, {33, 13.20f}, {34, NAN}, {35, -1.0f}},
       13.25,
       50.0,
       100.0,
       31,
       50.0},
      {"the first of two equally far blocks is the worst",
       {{18, 6.70f}, {19, 6.80f}},
       6.75,
       50.0,
       100.0,
       18,
       -50.0},
      {"one block alone is its own mean", {{5, 12.9f}}, 12.9, 0.0, 0.0, 5, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<StringHealth> h = ComputeHealth(c.readings);
    ASSERT_TRUE(h);
    EXPECT_NEAR(h->mean_v, c.mean_v, 1e-6);
    EXPECT_NEAR(h->sigma_mv, c.sigma_mv, 1e-3);
    EXPECT_NEAR(h->spread_mv, c.spread_mv, 1e-3);
    EXPECT_EQ(h->Worst().number, c.worst);
    EXPECT_NEAR(h->Worst().deviation_mv, c.worst_mv, 1e-3);
    double sum = 0.0;
    for (const CellDeviation& d : h->deviations) sum += d.deviation_mv;
    EXPECT_NEAR(sum, 0.0, 1e-6) << "deviations from the mean add up to nothing";
  }
  EXPECT_FALSE(ComputeHealth({{1, 0.0f}, {2, NAN}})) << "no reading, no health";

  // A history row: the device's 24 cells of the record's 32, numbered from 31.
  float cells[32] = {};
  for (int k = 0; k < 24; ++k) cells[k] = 6.75f;
  cells[3] = 6.63f;
  cells[30] = 13.3f;  // beyond the device's cells
  const std::optional<StringHealth> row = HealthOfCells(cells, 24, 31);
  ASSERT_TRUE(row);
  EXPECT_EQ(row->cells, 24);
  EXPECT_EQ(row->Worst().number, 34);
  EXPECT_NEAR(row->Worst().deviation_mv, -115.0, 1e-3);
}

TEST(StringHealthTest, SignedMillivoltsUseTheMinusSign) {
  EXPECT_EQ(SignedMillivolts(-112.4), "\u2212112 mV");
  EXPECT_EQ(SignedMillivolts(31.5), "+32 mV");
  EXPECT_EQ(SignedMillivolts(-0.4), "0 mV");
}

// A 30-block string where block 18 (cell 17) stands `mv` off the mean.
StringHealth OneBlockOff(double mv, double sigma_mv = 13.0) {
  StringHealth h;
  h.cells = 30;
  h.mean_v = 13.3;
  h.sigma_mv = sigma_mv;
  h.lowest = {18, static_cast<float>(13.3 + mv / 1000)};
  h.highest = {1, 13.3f};
  h.spread_mv = std::fabs(mv);
  for (int n = 1; n <= 30; ++n) h.deviations.push_back({n, n == 18 ? mv : 0.0});
  return h;
}

// "+warning deviation_mv 18", "-critical spread_mv 1", ...
std::vector<std::string> Changes(HealthAlarms& alarms, const std::vector<double>& mvs) {
  std::vector<std::string> out;
  for (double mv : mvs)
    for (const AlarmChange& c : alarms.Check(OneBlockOff(mv), 1))
      out.push_back(std::string(c.raised ? "+" : "-") + AlarmKindName(c.kind) + " " + c.name + " " +
                    std::to_string(c.point));
  return out;
}

TEST(HealthAlarmsTest, EachLevelRaisesAndClearsOnceWithItsHysteresis) {
  const HealthLevels levels{60.0f, 100.0f, 10.0f};
  struct Case {
    const char* name;
    HealthLimits limits;
    std::vector<double> mvs;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"a block drifting down and back, hovering at each level",
       {levels, "battery_*_value", std::nullopt},
       {-30, -61, -55, -70, -101, -95, -91, -90, -51, -50, -20},
       {"+warning deviation_mv 18", "+critical deviation_mv 18", "-critical deviation_mv 18",
        "-warning deviation_mv 18"}},
      {"above the mean counts as far as below",
       {levels, "battery_*_value", std::nullopt},
       {120, 0},
       {"+warning deviation_mv 18", "+critical deviation_mv 18", "-critical deviation_mv 18",
        "-warning deviation_mv 18"}},
      {"a limit naming one cell leaves the others alone",
       {levels, "battery_16_value", std::nullopt},
       {-120, 0},
       {}},
      {"the spread on its own levels, at the string's point",
       {std::nullopt, "battery_*_value", HealthLevels{150.0f, std::nullopt, 20.0f}},
       {-151, -140, -130},
       {"+warning spread_mv 1", "-warning spread_mv 1"}},
      {"no limits, no alarms", {}, {-500}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HealthAlarms alarms(c.limits);
    EXPECT_EQ(Changes(alarms, c.mvs), c.expected);
  }
}

TEST(HealthAlarmsTest, TextsNameTheCellTheSignedDeviationAndSigma) {
  HealthAlarms alarms(HealthLimits{HealthLevels{60.0f, 100.0f, 10.0f}, "battery_*_value",
                                   HealthLevels{100.0f, std::nullopt, 10.0f}});
  const std::vector<AlarmChange> changes = alarms.Check(OneBlockOff(-112.3, 13.4), 1);
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].text, "spread 112 mV (第18节电池 to 第1节电池)");
  EXPECT_EQ(changes[1].text, "第18节电池 \u2212112 mV from the mean (σ 13 mV)");
  EXPECT_EQ(changes[1].kind, AlarmKind::kWarning);
  EXPECT_FLOAT_EQ(changes[1].value, -112.3f);
  EXPECT_FLOAT_EQ(changes[1].limit, 60.0f);
  EXPECT_EQ(changes[2].kind, AlarmKind::kCritical);
  // A string numbered from 31: block 48 is the device's cell 17, point 18.
  HealthAlarms second(
      HealthLimits{HealthLevels{60.0f, std::nullopt, 10.0f}, "battery_17_value", std::nullopt});
  StringHealth h = OneBlockOff(-80);
  for (CellDeviation& d : h.deviations) d.number += 30;
  const std::vector<AlarmChange> b = second.Check(h, 31);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].text, "第48节电池 \u221280 mV from the mean (σ 13 mV)");
  EXPECT_EQ(b[0].point, 18);
  EXPECT_EQ(second.Active().size(), 1u);
}

}  // namespace
}  // namespace runner
