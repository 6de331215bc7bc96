#include "runner/metrics/exposition.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "runner/metrics/site_metrics.h"

namespace runner::metrics {
namespace {

TEST(ExpositionTest, LabelValuesAndHelpAreEscaped) {
  struct Case {
    const char* name;
    std::string raw, label, help;
  };
  const Case cases[] = {
      {"plain", "string-A", "string-A", "string-A"},
      {"quote", "say \"hi\"", "say \\\"hi\\\"", "say \"hi\""},
      {"backslash", "C:\\bus", "C:\\\\bus", "C:\\\\bus"},
      {"line feed", "a\nb", "a\\nb", "a\\nb"},
      {"all three", "\\\"\n", "\\\\\\\"\\n", "\\\\\"\\n"},
      {"UTF-8 kept", "第18节电池", "第18节电池", "第18节电池"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EscapeLabelValue(c.raw), c.label);
    EXPECT_EQ(EscapeHelp(c.raw), c.help);
  }
}

TEST(ExpositionTest, NamesAndNumbers) {
  for (const char* good : {"qorv_rounds_total", "a:b_c", "_x", "X9"}) {
    SCOPED_TRACE(good);
    EXPECT_TRUE(IsMetricName(good));
  }
  for (const char* bad : {"", "9x", "qorv-rounds", "a b", "é"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(IsMetricName(bad));
  }
  EXPECT_FALSE(IsLabelName("a:b"));
  EXPECT_FALSE(IsLabelName("__name__"));
  EXPECT_EQ(FormatValue(13.3), "13.3");
  EXPECT_EQ(FormatValue(-5.0), "-5");
  EXPECT_EQ(FormatValue(0.0001), "0.0001");
  EXPECT_EQ(FormatValue(1e21), "1e+21");
  EXPECT_EQ(FormatValue(1e-9), "1e-09");
  EXPECT_EQ(FormatValue(0.1 + 0.2), "0.30000000000000004");  // reads back exactly
}

TEST(ExpositionTest, FamiliesWithoutFiniteSamplesAreLeftOut) {
  Exposition out;
  out.Family("qorv_a", "A.", MetricType::kGauge);
  out.Sample({{"device", "x"}}, std::numeric_limits<double>::quiet_NaN());
  out.Family("qorv_b_total", "B\nsecond line.", MetricType::kCounter);
  out.Sample({}, 2);
  out.Sample({{"device", "q\""}, {"cell", "3"}}, std::numeric_limits<double>::infinity());
  EXPECT_EQ(out.Text(),
            "# HELP qorv_b_total B\\nsecond line.\n# TYPE qorv_b_total counter\nqorv_b_total 2\n");
  EXPECT_THROW(out.Family("qorv_c", "counter without _total", MetricType::kCounter),
               std::logic_error);
  EXPECT_THROW(out.Family("qorv_c_total", "gauge with _total", MetricType::kGauge),
               std::logic_error);
}

// Readings a device no longer stands by, and values it does not give, have
// no series; its state and link still do.
TEST(ExpositionTest, MissingAndStaleReadingsHaveNoSeries) {
  DeviceMetrics fresh;
  fresh.name = "A";
  fresh.data_id = 1;
  fresh.port = "bus";
  fresh.state = DataState::kFresh;
  fresh.first_cell_number = 31;
  fresh.cells = {13.3f, std::nullopt, 13.2f};
  fresh.string_voltage = 26.5f;
  fresh.health = ComputeHealth({{31, 13.3f}, {33, 13.2f}});
  DeviceMetrics stale = fresh;
  stale.name = "B";
  stale.state = DataState::kStale;
  stale.from_record = true;
  const std::string text = MetricsText({7, {fresh, stale}, std::nullopt, std::nullopt});
  const std::string a = "{device=\"A\",data_id=\"1\",port=\"bus\"";
  EXPECT_NE(text.find("qorv_rounds_total 7\n"), std::string::npos);
  EXPECT_NE(text.find("qorv_cell_voltage_volts" + a + ",cell=\"31\"} 13.3\n"), std::string::npos);
  EXPECT_NE(text.find("qorv_cell_voltage_volts" + a + ",cell=\"33\"} 13.2\n"), std::string::npos);
  EXPECT_EQ(text.find("cell=\"32\""), std::string::npos);
  EXPECT_NE(text.find("qorv_cell_voltage_spread_volts" + a + "} 0.1\n"), std::string::npos);
  EXPECT_EQ(text.find("qorv_current_amperes"), std::string::npos);
  EXPECT_EQ(text.find("qorv_history_"), std::string::npos);
  EXPECT_EQ(text.find("qorv_string_voltage_volts{device=\"B\""), std::string::npos);
  EXPECT_NE(
      text.find("qorv_device_state{device=\"B\",data_id=\"1\",port=\"bus\",state=\"stale\"} 1"),
      std::string::npos);
  EXPECT_NE(text.find("qorv_device_rounds_total{device=\"B\""), std::string::npos);
}

}  // namespace
}  // namespace runner::metrics
