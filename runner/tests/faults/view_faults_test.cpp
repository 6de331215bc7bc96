// What a person sees when much goes wrong at once: four monitors with
// thirty alarms, or sixty spread over all four on two lines, on a standard
// terminal and on narrow and short ones.
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner/view/live_view.h"

namespace runner {
namespace {

// Four 30-block strings; every block of the first is in a low alarm.
SiteView FourMonitorsThirtyAlarms() {
  SiteView view;
  for (const char* name : {"string-A", "string-B", "string-C", "string-D"}) {
    DeviceView d;
    d.name = name;
    d.state = DataState::kFresh;
    d.cells.assign(30, 13.2f);
    view.devices.push_back(d);
  }
  AlarmBook book(LimitTable({{"battery_*_value", 12.0f, 14.4f, 0.1f}}));
  for (int k = 0; k < 30; ++k)
    book.Check("battery_" + std::to_string(k) + "_value", "", 11.0f, k + 1);
  view.devices[0].alarms = book.Active();
  view.events = {"alarm raised: string-A ..."};
  return view;
}

// Four 30-block strings on two lines, 15 blocks of each in a low alarm.
SiteView FourMonitorsOnTwoLinesSixtyAlarms() {
  SiteView view = FourMonitorsThirtyAlarms();
  AlarmBook book(LimitTable({{"battery_*_value", 12.0f, 14.4f, 0.1f}}));
  for (int k = 0; k < 15; ++k)
    book.Check("battery_" + std::to_string(2 * k) + "_value", "", 11.0f, 2 * k + 1);
  for (std::size_t i = 0; i < view.devices.size(); ++i) {
    view.devices[i].port = i < 2 ? "line-1" : "line-2";
    view.devices[i].alarms = book.Active();
  }
  return view;
}

// The lines as a terminal shows them, without control codes, and the
// columns each takes (the bars and the Chinese texts are multi-byte).
std::vector<std::pair<std::string, int>> Visible(const std::string& frame) {
  std::vector<std::pair<std::string, int>> lines(1);
  for (std::size_t i = 0; i < frame.size(); ++i) {
    const auto c = static_cast<unsigned char>(frame[i]);
    if (c == '\x1b') {
      while (i < frame.size() && !std::isalpha(static_cast<unsigned char>(frame[i]))) ++i;
    } else if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back().first += frame[i];
      lines.back().second += (c & 0xC0) == 0x80 ? 0 : c >= 0xE3 ? 2 : 1;
    }
  }
  lines.pop_back();
  return lines;
}

TEST(LiveViewFaultTest, EveryDeviceStaysInSightAndNoLineWraps) {
  for (const auto& [width, height] : {std::pair{80, 24}, {50, 0}, {33, 12}, {20, 0}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const auto lines =
        Visible(RenderView(FourMonitorsThirtyAlarms(), {width, height, true, 20, "site"}));
    std::string all;
    for (const auto& [text, columns] : lines) {
      EXPECT_LE(columns, width) << text;
      all += text + "\n";
    }
    if (height == 0) continue;
    EXPECT_LT(lines.size(), static_cast<std::size_t>(height));
    for (const char* device : {"\nstring-A", "\nstring-B", "\nstring-C", "\nstring-D"})
      EXPECT_NE(all.find(device), std::string::npos) << all;
    EXPECT_NE(all.find("more"), std::string::npos) << "the alarms left out are counted\n" << all;
  }
  const auto lines = Visible(RenderView(FourMonitorsThirtyAlarms(), {80, 24, true, 20, "site"}));
  EXPECT_NE(lines[3].first.find("(battery_2_value)"), std::string::npos)
      << "cell order, not text order";
}

TEST(LiveViewFaultTest, AlarmsOfSeveralDevicesLeaveEveryDeviceInSightAndAreCountedExactly) {
  const SiteView view = FourMonitorsOnTwoLinesSixtyAlarms();
  for (const auto& [width, height] : {std::pair{80, 24}, {100, 40}, {80, 12}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const auto lines = Visible(RenderView(view, {width, height, true, 20, "site"}));
    std::string all;
    std::size_t alarm_lines = 0;
    std::size_t more = 0;
    for (const auto& [text, columns] : lines) {
      all += text + "\n";
      if (text.find("_value)") != std::string::npos) ++alarm_lines;
      const std::size_t plus = text.find("+");
      if (plus != std::string::npos && text.find(" more") != std::string::npos)
        more = std::stoul(text.substr(plus + 1));
    }
    EXPECT_LT(lines.size(), static_cast<std::size_t>(height)) << all;
    for (const char* device : {"\nstring-A", "\nstring-B", "\nstring-C", "\nstring-D"})
      EXPECT_NE(all.find(device), std::string::npos) << all;
    EXPECT_GT(alarm_lines, 0u) << all;
    EXPECT_EQ(alarm_lines + more, 60u) << "shown and left out add up to every alarm\n" << all;
  }
}

}  // namespace
}  // namespace runner
