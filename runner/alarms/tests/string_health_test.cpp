#include "runner/alarms/string_health.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner/alarms/health_alarms.h"

namespace runner {
namespace {

TEST(StringHealthTest, PopulationSigmaOverTheReadingsOnly) {
  struct Case {
    const char* name;
    std::vector<CellReading> readings;
    double mean_v, sigma_mv, spread_mv, worst_mv;
  };
  const Case cases[] = {
      {"sigma of the population, not of a sample",
       {{1, 13.3f}, {2, 13.3f}, {3, 13.3f}, {4, 13.18f}},
       13.27,
       51.9615,
       120.0,
       -90.0},
      {"empty slots and unreadable blocks are no cells",
       {{1, 13.3f}, {2, 0.0f}, {3, NAN}, {4, 13.2f}},
       13.25,
       50.0,
       100.0,
       50.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<StringHealth> h = ComputeHealth(c.readings);
    ASSERT_TRUE(h);
    EXPECT_NEAR(h->mean_v, c.mean_v, 1e-6);
    EXPECT_NEAR(h->sigma_mv, c.sigma_mv, 1e-3);
    EXPECT_NEAR(h->spread_mv, c.spread_mv, 1e-3);
    EXPECT_NEAR(h->Worst().deviation_mv, c.worst_mv, 1e-3);
  }
}

// Block 48 of a string numbered from 31 (its cell 17) stands `mv` off the mean.
StringHealth OneBlockOff(double mv) {
  StringHealth h{30, 13.3, 13.4, std::fabs(mv), {48, 13.0f}, {31, 13.3f}, {}};
  for (int n = 31; n <= 60; ++n) h.deviations.push_back({n, n == 48 ? mv : 0.0});
  return h;
}

TEST(HealthAlarmsTest, EachLevelRaisesAndClearsOnceWithItsHysteresis) {
  const HealthLevels levels{60.0f, 100.0f, 10.0f};
  struct Case {
    const char* name;
    HealthLimits limits;
    std::vector<double> mvs;
    std::vector<std::string> expected;  // "+warning 18 第48节电池 −61 mV from the mean (σ 13 mV)"
  };
  const Case cases[] = {
      {"down and back, hovering inside each band",
       {levels, "battery_*_value", std::nullopt},
       {-30, -61, -55, -101, -91, -90, -51, -50, +62},
       {"+warning 18 第48节电池 −61 mV from the mean (σ 13 mV)", "+critical 18", "-critical 18",
        "-warning 18", "+warning 18 第48节电池 +62 mV from the mean (σ 13 mV)"}},
      {"a limit naming one cell leaves the others alone",
       {levels, "battery_16_value", HealthLevels{150.0f, std::nullopt, 20.0f}},
       {-151, -130},
       {"+warning 1 spread 151 mV (第48节电池 to 第31节电池)", "-warning 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HealthAlarms alarms(c.limits);
    std::vector<std::string> changes;
    for (double mv : c.mvs)
      for (const AlarmChange& a : alarms.Check(OneBlockOff(mv), 31))
        changes.push_back(std::string(a.raised ? "+" : "-") + AlarmKindName(a.kind) + " " +
                          std::to_string(a.point) +
                          (a.raised && a.kind == AlarmKind::kWarning ? " " + a.text : ""));
    EXPECT_EQ(changes, c.expected);
  }
}

}  // namespace
}  // namespace runner
