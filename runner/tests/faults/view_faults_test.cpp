// What a person sees when much goes wrong at once: a site of four monitors
// with thirty alarms on a standard terminal, and a narrow terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "runner/live_view.h"

namespace runner {
namespace {

// Four 30-block strings; the first has every block in a low alarm.
HostView FourMonitorsThirtyAlarms() {
  HostView view;
  view.time = boost::posix_time::time_from_string("2026-12-08 10:00:03");
  view.round = 7;
  for (int m = 0; m < 4; ++m) {
    DeviceView d;
    d.name = "string-" + std::string(1, static_cast<char>('A' + m));
    d.data_id = static_cast<unsigned>(m + 1);
    d.port = "bus";
    d.state = DataState::kFresh;
    d.first_cell_number = 1 + 30 * m;
    d.cells.assign(30, 13.2f);
    d.min_cell = CellExtreme{1, 13.2f};
    d.max_cell = CellExtreme{2, 13.2f};
    d.group_voltage = 396.0f;
    view.devices.push_back(d);
  }
  AlarmBook book(LimitTable({{"battery_*_value", 12.0f, 14.4f, 0.1f}}));
  for (int k = 0; k < 30; ++k)
    book.Check("battery_" + std::to_string(k) + "_value", "第" + std::to_string(k + 1) + "节电池",
               11.0f, k + 1);
  view.devices[0].alarms = book.Active();
  view.events = {"2026-12-08 10:00:02 alarm raised: string-A ..."};
  return view;
}

// The frame's lines as a terminal shows them, control codes left out.
std::vector<std::string> Visible(const std::string& frame) {
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
  lines.pop_back();  // after the last line end
  return lines;
}

// Columns a line takes: the bars and the Chinese texts are multi-byte.
int Columns(const std::string& line) {
  int columns = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if ((c & 0xC0) == 0x80) continue;
    columns += c >= 0xE3 ? 2 : 1;
  }
  return columns;
}

TEST(LiveViewFaultTest, FourMonitorsAndThirtyAlarmsFitAStandardTerminal) {
  const std::vector<std::string> lines = Visible(RenderView(FourMonitorsThirtyAlarms(), {80, 24, true, 20, "site"}));
  EXPECT_LE(lines.size(), 23u) << "one line short of the bottom";
  std::string all;
  for (const std::string& line : lines) {
    EXPECT_LE(Columns(line), 80) << line;
    all += line + "\n";
  }
  for (const char* device : {"string-A", "string-B", "string-C", "string-D"}) {
    SCOPED_TRACE(device);
    EXPECT_NE(all.find("\n" + std::string(device)), std::string::npos) << all;
  }
  EXPECT_NE(all.find("more"), std::string::npos) << "the alarms left out are counted\n" << all;
  const auto second = all.find("(battery_1_value)");
  const auto third = all.find("(battery_2_value)");
  ASSERT_NE(third, std::string::npos) << all;
  EXPECT_LT(second, third);
  EXPECT_EQ(all.find("(battery_10_value)"), std::string::npos) << "cell order, not text order\n" << all;
}

TEST(LiveViewFaultTest, NarrowTerminalsCutEveryLineInsteadOfWrapping) {
  for (int width : {20, 33, 50}) {
    SCOPED_TRACE(width);
    const std::string frame = RenderView(FourMonitorsThirtyAlarms(), {width, 0, true, 0, "site"});
    for (const std::string& line : Visible(frame)) EXPECT_LE(Columns(line), width) << line;
  }
}

}  // namespace
}  // namespace runner
