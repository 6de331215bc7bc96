#include "runner/view/live_view.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>
#include <json/reader.h>

#include "runner/time/time_text.h"
#include "runner/view/json_report.h"

namespace runner {
namespace {

using boost::posix_time::time_from_string;

// A device of two cells numbered from 31, one of them in a low alarm.
SiteView TwoCellView(DataState state) {
  SiteView view;
  view.time = time_from_string("2026-12-08 10:00:03");
  view.round = 12;
  DeviceView d;
  d.name = "string-B";
  d.data_id = 2;
  d.port = "demo-bus";
  d.state = state;
  d.state_text = state == DataState::kStale ? "数据已超时" : "";
  d.from_record = state == DataState::kStale;
  d.first_cell_number = 31;
  d.cells = {13.31f, 11.6f};
  d.group_voltage = 795.9f;
  d.group_current = -5.0f;
  d.temperature = 26.0f;
  d.min_cell = CellExtreme{32, 11.6f};
  d.max_cell = CellExtreme{31, 13.31f};
  d.age_s = 0;
  d.link.rounds = 12;
  d.link.resends = 2;
  d.alarms = {{"battery_1_value", "第32节电池", 2, AlarmKind::kLow, 11.6f, 12.0f, {}}};
  view.devices.push_back(d);
  view.events = {"2026-12-08 10:00:02 alarm raised: string-B 第32节电池 ..."};
  return view;
}

TEST(LiveViewTest, ShowsCellsByTheirStringNumbersWithExtremesLinkAndAlarms) {
  const std::string screen = RenderView(TwoCellView(DataState::kFresh), {80, 0, false, 20, "demo"});
  for (const char* part :
       {"round 12/20  1 alarm", "string-B  id 2  demo-bus  ok  age 0 s\n",
        "\n  rounds 12  re-sends 2  rejected 0", " 31 13.31 ", " 32 11.60 ",
        "min #32 11.600  max #31 13.310  spread 1.710", "795.90 V  -5.00 A",
        "string-B 第32节电池 (battery_1_value) low 11.600 < 12.000", "alarm raised: string-B"}) {
    SCOPED_TRACE(part);
    EXPECT_NE(screen.find(part), std::string::npos) << screen;
  }
  EXPECT_EQ(screen.find('\x1b'), std::string::npos) << "no control codes without a terminal";
}

TEST(LiveViewTest, AStaleDeviceSaysSoWithTheDevicesText) {
  const std::string screen = RenderView(TwoCellView(DataState::kStale), {80, 0, true, 0, ""});
  EXPECT_NE(screen.find("stale\x1b[0m (数据已超时)"), std::string::npos) << screen;
  EXPECT_EQ(screen.rfind("\x1b[H", 0), 0u) << "each frame starts at the top-left corner";
}

// The frame's lines without control codes.
std::vector<std::string> VisibleLines(const std::string& frame) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < frame.size(); ++i) {
    if (frame[i] == '\x1b') {
      while (i < frame.size() && !std::isalpha(static_cast<unsigned char>(frame[i]))) ++i;
    } else if (frame[i] == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += frame[i];
    }
  }
  return lines;
}

TEST(LiveViewTest, ATerminalFrameNeverScrollsNorWraps) {
  SiteView view = TwoCellView(DataState::kFresh);
  view.events = {std::string(100, 'x'), "第32节电池 第32节电池 第32节电池 第32节电池 第32节电池"};
  const std::string tall = RenderView(view, {40, 0, true, 0, ""});
  ASSERT_GT(std::count(tall.begin(), tall.end(), '\n'), 9)
      << "the case needs a frame taller than the terminal";
  const std::string frame = RenderView(view, {40, 10, true, 0, ""});
  EXPECT_EQ(std::count(frame.begin(), frame.end(), '\n'), 9) << "one line short of the bottom";

  const std::vector<std::string> lines = VisibleLines(RenderView(view, {40, 0, true, 0, ""}));
  const std::string& cjk = lines[lines.size() - 2];
  EXPECT_EQ(cjk, "第32节电池 第32节电池 第32节电池 第32节") << "39 columns: Chinese takes two each";
  EXPECT_EQ(lines[lines.size() - 3], std::string(40, 'x'));
}

TEST(LiveViewTest, TwoThirtyCellStringsWithTheirHealthFitEightyByTwentyFourWithAnAlarm) {
  SiteView view;
  for (int first : {1, 31}) {
    DeviceView d;
    d.first_cell_number = first;
    std::vector<CellReading> readings;
    for (int k = 0; k < 30; ++k) {
      d.cells.push_back(k == 17 ? 13.18f : 13.3f);
      readings.push_back({first + k, *d.cells.back()});
    }
    d.health = ComputeHealth(readings);
    view.devices.push_back(d);
  }
  view.devices[0].alarms = {{"deviation_mv",
                             "第18节电池 \u2212116 mV from the mean (σ 22 mV)",
                             18,
                             AlarmKind::kWarning,
                             -116.0f,
                             80.0f,
                             {}}};
  const std::vector<std::string> lines = VisibleLines(RenderView(view, {80, 24, true, 0, ""}));
  EXPECT_LT(lines.size(), 25u);
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  for (const char* part : {"  第18节电池 \u2212116 mV from the mean (σ 22 mV) warning > 80 mV\n",
                           "\n  mean 13.296 V  σ 22 mV  spread 120 mV  worst #18 \u2212116 mV\n",
                           "worst #48 \u2212116 mV", " 30 13.30", " 60 13.30"})
    EXPECT_NE(all.find(part), std::string::npos) << part << "\n" << all;
}

TEST(LiveViewTest, TheBrokerTakesALineOnlyOnceItIsAwayAndTheFrameStillFits) {
  SiteView view = TwoCellView(DataState::kFresh);
  PublishCounts broker;
  broker.broker = "127.0.0.1:1883";
  broker.connected = true;
  broker.published = 40;
  view.mqtt = broker;
  const std::string quiet = RenderView(view, {80, 0, false, 0, ""});
  EXPECT_EQ(quiet.find("MQTT"), std::string::npos) << quiet;

  broker.connected = false;
  broker.waiting = 6;
  broker.trouble = "connection to 127.0.0.1:1883 lost: Connection refused";
  view.mqtt = broker;
  StoreState store;
  store.lost = 2;
  store.last_error = "disk I/O error";
  view.store = store;
  for (int k = 0; k < 28; ++k) view.devices[0].cells.push_back(13.3f);
  view.devices.push_back(view.devices[0]);
  const std::vector<std::string> lines = VisibleLines(RenderView(view, {80, 24, true, 0, ""}));
  EXPECT_LT(lines.size(), 25u);
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  for (const char* part : {"history: 0 pending, 2 lost; last error: disk I/O error",
                           "MQTT 127.0.0.1:1883: 40 published, 6 waiting, 0 backlog, 0 skipped; "
                           "away: conn"})
    EXPECT_NE(all.find(part), std::string::npos) << part << "\n" << all;
}

TEST(LiveViewTest, BarsGrowWithTheVoltageAndStayInsideTheirWidth) {
  struct Case {
    const char* name;
    float volts;
    std::string bar;
  };
  const Case cases[] = {
      {"at the bottom", 10.0f, ""}, {"below the bottom", 2.0f, ""},
      {"half way", 12.5f, "████"},  {"one eighth more", 12.5f + 5.0f / 64, "████▏"},
      {"full", 15.0f, "████████"},  {"beyond the top", 99.0f, "████████"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CellBar(c.volts, 10.0f, 15.0f, 8), c.bar);
  }
}

TEST(JsonReportTest, OneParsableLinePerRoundWithNullsForMissingValues) {
  SiteView view = TwoCellView(DataState::kFresh);
  view.devices[0].temperature.reset();
  const std::string line = OneLine(RoundJson(view, {"an event"}));
  EXPECT_EQ(line.find('\n'), std::string::npos);
  Json::Value back;
  std::string errors;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  ASSERT_TRUE(reader->parse(line.data(), line.data() + line.size(), &back, &errors)) << errors;
  const Json::Value& d = back["devices"][0];
  EXPECT_EQ(back["round"].asInt(), 12);
  EXPECT_EQ(d["state"].asString(), "ok");
  EXPECT_EQ(d["cells"].size(), 2u);
  EXPECT_NEAR(d["cells"][1].asDouble(), 11.6, 1e-6);
  EXPECT_TRUE(d["temperature"].isNull());
  EXPECT_EQ(d["min"]["cell"].asInt(), 32);
  EXPECT_EQ(d["alarms"][0]["text"].asString(), "第32节电池");
  EXPECT_EQ(back["events"][0].asString(), "an event");

  view.devices[0].health = ComputeHealth({{32, 11.6f}});  // cell 31 gave no reading
  const Json::Value deviations = RoundJson(view, {})["devices"][0]["health"]["deviations_mv"];
  ASSERT_EQ(deviations.size(), 2u) << "one per cell shown";
  EXPECT_TRUE(deviations[0].isNull()) << "none for a cell without a reading";
}

// Readings in whole millivolts, whose single-precision sums and differences
// carry noise: the line shows each value at its own resolution, and an
// alarm with the instant it was raised.
TEST(JsonReportTest, ValuesAtTheirResolutionAndAlarmsWithTheirInstant) {
  SiteView view = TwoCellView(DataState::kFresh);
  view.devices[0].cells = {13.28f, 13.255f};
  view.devices[0].first_cell_number = 31;
  view.devices[0].health = ComputeHealth({{31, 13.28f}, {32, 13.255f}, {33, 13.311f}});
  view.devices[0].alarms[0].since = FormatInstant(1796767389, 3600);
  const std::string line = OneLine(RoundJson(view, {}));
  for (const char* expected : {"\"cells\":[13.28,13.255]", "\"mean\":13.282", "\"sigma_mv\":22.9",
                               "\"spread_mv\":56.0", "\"deviations_mv\":[-2.0,-27.0]",
                               "\"limit\":12.0,", "\"since\":\"2026-12-08T23:03:09+01:00\""})
    EXPECT_NE(line.find(expected), std::string::npos) << expected << " in " << line;
  EXPECT_EQ(FormatInstant(1796767389, -16200), "2026-12-08T17:33:09-04:30");
}

}  // namespace
}  // namespace runner
