// The history plot: the model built from a real database, the files it
// writes read back (SVG as XML, PNG by its header), and the inputs refused.
#include <expat.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "runner/alarms/string_health.h"
#include "runner/plot/label_rows.h"
#include "runner/plot/plot_command.h"
#include "runner/plot/plot_data.h"
#include "runner/round/battery_record.h"
#include "runner/time/time_text.h"
#include "tests/support/test_folder.h"

namespace runner::plot {
namespace {

using boost::posix_time::minutes;
using boost::posix_time::ptime;
using boost::posix_time::time_from_string;

constexpr unsigned kDataId = 7;
constexpr int kCells = 24;      // a 24-block device...
constexpr int kFirstCell = 31;  // ...numbering its cells from 31
constexpr int kRows = 11;       // one a minute from 22:00

const ptime kStart = time_from_string("2026-12-08 22:00:00");

// Readings that zigzag from row to row, so no two segments of a line are
// in one direction and every row stays a vertex of the drawn path. Cell 5
// sags in row 4 and cell 20 peaks in row 7.
BatteryRecord RecordAt(int row) {
  BatteryRecord r;
  r.data_id = kDataId;
  const float zig = row % 2 ? 0.05f : 0.0f;
  for (int k = 0; k < kCells; ++k)
    r.cells[static_cast<std::size_t>(k)] = 13.2f + 0.002f * static_cast<float>(k) + zig;
  if (row == 4) r.cells[5] = 12.1f;
  if (row == 7) r.cells[20] = 13.9f;
  r.group_voltage = 318.0f + 10 * zig + 0.1f * static_cast<float>(row);
  r.group_current = -2.0f - zig;
  r.temperature = 25.0f + static_cast<float>(row) + zig;
  r.ttime = get_ttime(kStart + minutes(row));
  return r;
}

class PlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.path();
    auto store = HistoryStore::Open(Db());
    store->PutDevice({kDataId, "string-B", kCells, kFirstCell});
    for (int row = 0; row < kRows; ++row)
      store->AddRow(InstantOfLocal(kStart + minutes(row)), "interval", EncodeRecord(RecordAt(row)));
    // Raised and cleared inside the range the tests ask for, and one after it.
    const struct {
      int row;
      const char* name;
      AlarmKind kind;
      bool raised;
    } alarms[] = {{3, "battery_5_value", AlarmKind::kLow, true},
                  {4, "deviation_mv", AlarmKind::kWarning, true},
                  {5, "temperature", AlarmKind::kHigh, true},
                  {6, "battery_5_value", AlarmKind::kLow, false},
                  {10, "battery_5_value", AlarmKind::kLow, true}};
    for (const auto& a : alarms) {
      AlarmChange change{a.name, "text", 6, a.kind, a.raised, 12.1f, 12.5f};
      store->AddAlarm(InstantOfLocal(kStart + minutes(a.row)), kDataId, "string-B", change);
    }
  }

  std::string Db() const { return dir_ + "/history.db"; }

  // Rows 2 to 8.
  HistoryOptions Range() const {
    HistoryOptions o;
    o.db = Db();
    o.data_id = kDataId;
    o.from = FormatTime(kStart + minutes(2));
    o.to = FormatTime(kStart + minutes(8));
    return o;
  }

  halvex::testing::TestFolder folder_;  // first made, last removed
  std::string dir_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Paths drawn on the page (not glyphs or clips kept in <defs>) made of one
// move and exactly `segments` lines: one per series over the rows.
struct SvgCount {
  int segments = 0;
  int depth_in_defs = 0;
  int series_paths = 0;
};

int SeriesPathsIn(const std::string& svg, int segments) {
  SvgCount count{segments};
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &count);
  XML_SetElementHandler(
      parser,
      [](void* user, const XML_Char* name, const XML_Char** attributes) {
        auto& c = *static_cast<SvgCount*>(user);
        const std::string element = name;
        if (element == "defs" || element == "symbol") ++c.depth_in_defs;
        if (element != "path" || c.depth_in_defs > 0) return;
        for (int i = 0; attributes[i] != nullptr; i += 2) {
          if (std::string(attributes[i]) != "d") continue;
          const std::string d = attributes[i + 1];
          if (std::count(d.begin(), d.end(), 'M') == 1 &&
              std::count(d.begin(), d.end(), 'L') == c.segments)
            ++c.series_paths;
        }
      },
      [](void* user, const XML_Char* name) {
        const std::string element = name;
        if (element == "defs" || element == "symbol") --static_cast<SvgCount*>(user)->depth_in_defs;
      });
  const bool ok = XML_Parse(parser, svg.data(), static_cast<int>(svg.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok ? count.series_paths : -1;
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

TEST_F(PlotTest, ModelHoldsEveryCellAndTheStringCurrentAndTemperatureOverTheRange) {
  auto store = HistoryStore::OpenReadOnly(Db());
  TimeRange range;
  ASSERT_TRUE(ReadHistoryRange(Range(), range, std::cerr));
  const PlotData data = LoadPlotData(*store, kDataId, range, {HealthLevels{80.0f, 150.0f, 15.0f}});

  ASSERT_EQ(data.rows, 7u);
  const std::int64_t first = InstantOfLocal(kStart + minutes(2)).utc;
  EXPECT_EQ(data.from_utc, first);
  EXPECT_EQ(data.to_utc, first + 6 * 60);
  EXPECT_EQ(data.title, "string-B, data id 7, 2026-12-08 22:02:00 to 2026-12-08 22:08:00");
  ASSERT_EQ(data.panels.size(), 5u);
  EXPECT_EQ(data.panels[0].series.size(), static_cast<std::size_t>(kCells));
  for (std::size_t p = 2; p < 5; ++p) EXPECT_EQ(data.panels[p].series.size(), 1u);
  for (const PlotPanel& panel : data.panels)
    for (const PlotSeries& s : panel.series) {
      SCOPED_TRACE(panel.title + " " + s.name);
      ASSERT_EQ(s.points.size(), 7u);
      for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(s.points[i].utc, first + 60 * std::int64_t(i));
    }

  // The sagging and the peaking cell are named by their number in the
  // string and drawn last, over the grey ones.
  const std::vector<PlotSeries>& cells = data.panels[0].series;
  EXPECT_EQ(cells[kCells - 2].name, "cell 51 (highest)");
  EXPECT_EQ(cells[kCells - 2].role, SeriesRole::kHighest);
  EXPECT_EQ(cells[kCells - 1].name, "cell 36 (lowest)");
  EXPECT_EQ(cells[kCells - 1].role, SeriesRole::kLowest);
  EXPECT_FLOAT_EQ(cells[kCells - 1].points[2].value, 12.1f);
  for (int k = 0; k < kCells - 2; ++k) EXPECT_EQ(cells[k].role, SeriesRole::kContext);

  // The cells farthest from the mean at any row, farthest first, between
  // the deviation limits at ± each level. Row 4's mean is 13.17675 V.
  const PlotPanel& health = data.panels[1];
  std::vector<std::string> worst;
  for (const PlotSeries& s : health.series) worst.push_back(s.name);
  EXPECT_EQ(worst, (std::vector<std::string>{"cell 36 (\u22121077 mV)", "cell 51 (+602 mV)",
                                             "cell 54 (+69 mV)", "spread"}));
  const BatteryRecord row6 = RecordAt(6);  // the range starts at row 2
  EXPECT_DOUBLE_EQ(health.series[3].points[4].value,
                   HealthOfCells(row6.cells.data(), kCells, kFirstCell)->spread_mv)
      << "the spread, a line of its own";
  // Scaled to the limits with a margin, not to cell 36's -1077 mV, which
  // is marked at the edge instead.
  ASSERT_TRUE(health.scale.has_value());
  EXPECT_EQ(*health.scale, std::make_pair(-225.0, 225.0));
  EXPECT_NEAR(health.series[0].points[2].value, (12.1 - 13.17675) * 1000, 0.1);
  std::vector<double> limits;
  for (const LimitLine& l : health.limits) limits.push_back(l.value);
  EXPECT_EQ(limits, (std::vector<double>{80, -80, 150, -150}));
  EXPECT_EQ(health.limits[3].name, "critical \u00B1150 mV");
  EXPECT_TRUE(health.note.empty());

  const BatteryRecord row5 = RecordAt(5);
  EXPECT_FLOAT_EQ(data.panels[2].series[0].points[3].value, row5.group_voltage);
  EXPECT_FLOAT_EQ(data.panels[3].series[0].points[3].value, row5.group_current);
  EXPECT_FLOAT_EQ(data.panels[4].series[0].points[3].value, row5.temperature);

  // Each alarm in the panel of its value, a cell's named by its number.
  ASSERT_EQ(data.alarms.size(), 4u) << "the alarm after the range is left out";
  std::vector<std::string> marks;
  for (const AlarmMark& a : data.alarms)
    marks.push_back(std::to_string(a.panel) + " " + a.text + (a.raised ? " raised" : " cleared"));
  EXPECT_EQ(marks,
            (std::vector<std::string>{"0 cell 36 low raised", "1 cell 36 deviation warning raised",
                                      "4 temperature high raised", "0 cell 36 low cleared"}));
}

TEST_F(PlotTest, WritesAnSvgWithOnePathASeriesAndAPngOfTheImageSize) {
  const std::string svg_path = dir_ + "/night.svg";
  std::ostringstream err;
  ASSERT_EQ(RunHistoryPlot(Range(), svg_path, err), 0) << err.str();
  EXPECT_NE(err.str().find("plotted 7 rows and 4 alarm events of data id 7"), std::string::npos);
  EXPECT_EQ(SeriesPathsIn(ReadAll(svg_path), 6), kCells + kWorstCellsShown + 4)
      << "one path of 7 points for each cell, the worst cells' deviations, the spread, the "
         "string, the current and the temperature";

  const std::string png_path = dir_ + "/night.PNG";
  ASSERT_EQ(RunHistoryPlot(Range(), png_path, err), 0) << err.str();
  const std::string png = ReadAll(png_path);
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(BigEndian32(png, 16), 1200u);
  EXPECT_EQ(BigEndian32(png, 20), 900u);
}

TEST_F(PlotTest, ADamagedRowIsLeftOutOfTheDrawingNotTheWholePlot) {
  BatteryRecord damaged = RecordAt(11);
  damaged.cells[3] = std::numeric_limits<float>::infinity();
  damaged.temperature = std::numeric_limits<float>::quiet_NaN();
  HistoryStore::Open(Db())->AddRow(InstantOfLocal(kStart + minutes(11)), "interval",
                                   EncodeRecord(damaged));
  auto store = HistoryStore::OpenReadOnly(Db());
  const PlotData data = LoadPlotData(*store, kDataId, {});
  EXPECT_EQ(data.panels[0].series[kCells - 2].name, "cell 51 (highest)") << "not the infinite one";
  EXPECT_EQ(data.panels[1].series[0].name, "cell 36 (\u22121077 mV)")
      << "nor the farthest from the mean";
  std::ostringstream err;
  EXPECT_EQ(RunHistoryPlot(Range(), dir_ + "/all.png", err), 0) << err.str();
  HistoryOptions all = Range();
  all.to.clear();
  EXPECT_EQ(RunHistoryPlot(all, dir_ + "/all.svg", err), 0) << err.str();
  EXPECT_EQ(SeriesPathsIn(ReadAll(dir_ + "/all.svg"), 9), kCells + 1)
      << "the cell and the temperature with a damaged row have a vertex less (the deviations "
         "are steady in rows 8 to 10, a straight run drawn as one line)";
}

TEST_F(PlotTest, RefusesInputItCannotPlotAndWritesNoFile) {
  struct Case {
    const char* name;
    std::string image;
    std::string from;
    unsigned data_id;
    std::string db;
    int status;
    std::string message;
  };
  const std::string svg = dir_ + "/out.svg";
  const Case cases[] = {
      {"another image type", dir_ + "/out.jpg", "", kDataId, Db(), 2, "must end in .svg or .png"},
      {"no extension", dir_ + "/svg", "", kDataId, Db(), 2, "must end in .svg or .png"},
      {"a range with no rows", svg, "2026-12-09", kDataId, Db(), 1,
       "no rows for data id 7 from 2026-12-09 to the last row"},
      {"a data id the database does not hold", svg, "", 8, Db(), 1,
       "holds no data id 8; it holds 7"},
      {"a time that is not one", svg, "22:00", kDataId, Db(), 2, "--from: \"22:00\" is not a time"},
      {"no database", svg, "", kDataId, dir_ + "/none.db", 1, "none.db: no such history database"},
      {"a folder that does not exist", dir_ + "/no/such/out.png", "", kDataId, Db(), 1,
       dir_ + "/no/such/out.png: cannot write"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HistoryOptions o;
    o.db = c.db;
    o.data_id = c.data_id;
    o.from = c.from;
    std::ostringstream err;
    EXPECT_EQ(RunHistoryPlot(o, c.image, err), c.status);
    EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
    EXPECT_FALSE(Exists(c.image));
  }
}

}  // namespace
}  // namespace runner::plot

namespace runner::plot {
namespace {

// Labels of alarms close in time take the next row instead of writing over
// each other; what fits no row is left out, never drawn on top.
TEST(AlarmLabelRowsTest, NoTwoPlacedLabelsOverlap) {
  struct Case {
    const char* name;
    std::vector<LabelSpan> labels;
    std::vector<int> rows;
  };
  const Case cases[] = {
      {"far apart: one row", {{0, 50}, {100, 50}, {200, 50}}, {0, 0, 0}},
      {"crowded: a row each, then left out",
       {{0, 50}, {20, 50}, {40, 50}, {30, 50}},
       {0, 1, 2, -1}},
      {"the gap counts", {{0, 50}, {53, 50}}, {0, 1}},
      {"a later one fills a hole", {{0, 50}, {20, 50}, {200, 10}}, {0, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<LabelSpan> labels = c.labels;
    PlaceInRows(labels, 3, 6);
    std::vector<int> rows;
    for (const LabelSpan& l : labels) rows.push_back(l.row);
    EXPECT_EQ(rows, c.rows);
    for (std::size_t i = 0; i < labels.size(); ++i)
      for (std::size_t j = i + 1; j < labels.size(); ++j)
        if (labels[i].row >= 0 && labels[i].row == labels[j].row) {
          EXPECT_TRUE(labels[i].left + labels[i].width + 6 <= labels[j].left ||
                      labels[j].left + labels[j].width + 6 <= labels[i].left)
              << i << " and " << j;
        }
  }
}

}  // namespace
}  // namespace runner::plot
