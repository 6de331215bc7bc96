#include "runner/plugin_access/device_cells.h"

#include <memory>

#include <gtest/gtest.h>
#include <json/reader.h>

namespace runner {
namespace {

Json::Value AppSetting(const std::string& text) {
  Json::Value app;
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &app, nullptr)) << text;
  Json::Value config;
  config["appSetting"] = app;
  return config;
}

std::vector<int> Cells(int from, int to) {
  std::vector<int> cells;
  for (int k = from; k < to; ++k) cells.push_back(k);
  return cells;
}

TEST(DeviceCells, ConfigurationPicksTheCellsAndTheFirstNumber) {
  struct Case {
    const char* app_setting;
    std::vector<int> cells;  // of a 30-cell device
    int first;
  };
  const Case cases[] = {
      {"{}", Cells(0, 30), 1},
      {R"({"battery_start": "30"})", Cells(0, 30), 31},
      {R"({"group_index": 2, "amount": "12"})", Cells(0, 12), 18},
      {R"({"group_index": 2, "amount": 12, "battery_start": 4})", Cells(0, 12), 5},
      {R"({"group_index": 3, "amount": 12})", Cells(0, 30), 1},
      {R"({"group_index": 1, "amount": 40})", Cells(0, 30), 1},
      {R"({"active_batteries": [29, 3, 40, -1, 3]})", {3, 29}, 1},
      {R"({"group_index": 1, "amount": 2, "active_batteries": ["7", 1]})", {0, 1, 7}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.app_setting);
    const Json::Value config = AppSetting(c.app_setting);
    EXPECT_EQ(ConfiguredCells(config, CellCountOf("halvex_30")), c.cells);
    EXPECT_EQ(FirstCellNumber(config), c.first);
  }
}

TEST(DeviceCells, NamesAreReadBackOnlyWhenTheyNameACellAndWindowsFollowTheBlocks) {
  for (int k : {0, 31, 9999}) EXPECT_EQ(CellOfValueName(CellValueName(k)), k);
  for (const char* name : {"battery__value", "battery_10000_value", "battery_-1_value",
                           "battery_1_valuex", "battery_*_value"})
    EXPECT_EQ(CellOfValueName(name), std::nullopt) << name;
  EXPECT_EQ(WindowOfString(6.7f).low, 4.5f);
  EXPECT_EQ(WindowOfString(7.5f).low, 9.0f);
  EXPECT_EQ(WindowOfString(std::nullopt).high, 15.0f);
}

}  // namespace
}  // namespace runner
