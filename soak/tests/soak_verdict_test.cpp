// The soak's verdict and its site: what makes a soak fail, and a line-up
// the reference host accepts.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner/site/site.h"
#include "soak/soak_plan.h"
#include "soak/soak_report.h"
#include "soak/soak_run.h"

namespace soak {
namespace {

DeviceFigures Device(std::uint64_t completed, std::uint64_t rows, std::uint64_t rows_off = 0) {
  DeviceFigures d;
  d.name = "string-0";
  d.attempted = 100;
  d.completed = completed;
  d.history_rows = rows;
  d.rows_off = rows_off;
  d.values_off = rows_off;
  return d;
}

TEST(SoakVerdict, FailsOnLossCorruptionOrNoProgress) {
  struct Case {
    const char* name;
    DeviceFigures device;
    std::uint64_t passing;  // corrupted replies that passed their checksum
    const char* failure;    // empty: passes
  };
  const std::vector<Case> cases = {
      {"every round stored, nothing off", Device(90, 90), 0, ""},
      {"a row lost", Device(90, 89), 0, "89 history rows for 90 completed rounds"},
      {"a row too many", Device(90, 91), 0, "91 history rows for 90 completed rounds"},
      {"a value off, explained by a collision", Device(90, 90, 1), 1, ""},
      {"a value off, no collision to explain it", Device(90, 90, 1), 0, "never sent"},
      {"no round at all", Device(0, 0), 0, "completed no round"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SoakResult result;
    result.devices = {c.device};
    result.collisions.passing = c.passing;
    const std::vector<std::string> failures = result.Failures();
    const std::string text = ReportText(result);
    if (std::string(c.failure).empty()) {
      EXPECT_TRUE(failures.empty()) << failures.front();
      EXPECT_EQ(text.find("FAILED"), std::string::npos);
    } else {
      ASSERT_EQ(failures.size(), 1u);
      EXPECT_NE(failures[0].find(c.failure), std::string::npos) << failures[0];
      EXPECT_NE(text.find("FAILED: " + failures[0]), std::string::npos);
      EXPECT_EQ(ReportJson(result)["failures"][0].asString(), failures[0]);
    }
  }
}

TEST(SoakPlan, SiteIsOneTheHostAccepts) {
  SoakPlan plan;
  plan.buses = 3;
  plan.monitors_per_bus = 2;
  const runner::Site site = runner::ParseSite(
      SiteOf(plan, {"/dev/pts/91", "/dev/pts/92", "/dev/pts/93"}, "/x/halvex_30.so", "/x/h.db"),
      "soak", "/");
  EXPECT_DOUBLE_EQ(site.poll_period_s, plan.poll_period_s);
  EXPECT_EQ(site.reply_timeout_ms, plan.reply_timeout_ms);
  ASSERT_EQ(site.ports.size(), 3u);
  ASSERT_EQ(site.devices.size(), 6u);
  for (std::size_t i = 0; i < site.devices.size(); ++i) {
    SCOPED_TRACE(i);
    const runner::DeviceSettings& d = site.devices[i];
    EXPECT_EQ(d.port, i / 2);
    EXPECT_EQ(site.ports[d.port].path, "/dev/pts/9" + std::to_string(d.port + 1));
    EXPECT_EQ(d.data_id, DataIdOf(static_cast<int>(i)));
    // The device on the wire and the monitor that answers it agree.
    EXPECT_EQ(d.WireAddress(), SteadyProfile(static_cast<int>(i), 2).address);
    EXPECT_EQ(d.save_interval_minutes, 1u)
        << "one row per completed round needs a one-minute interval";
  }
}

}  // namespace
}  // namespace soak
