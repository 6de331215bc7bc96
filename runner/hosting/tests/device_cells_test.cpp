#include "runner/hosting/device_cells.h"

#include <memory>

#include <gtest/gtest.h>
#include <json/reader.h>

namespace runner {
namespace {

Json::Value Config(const std::string& app_setting) {
  Json::Value config;
  std::string errors;
  const std::string text = "{\"appSetting\": " + app_setting + "}";
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &config, &errors)) << errors;
  return config;
}

std::vector<int> Range(int from, int to) {
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
      {"{}", Range(0, 30), 1},
      {R"({"battery_start": 30})", Range(0, 30), 31},
      {R"({"battery_start": "12"})", Range(0, 30), 13},
      {R"({"group_index": 1, "amount": 24})", Range(0, 24), 1},
      {R"({"group_index": 2, "amount": "12"})", Range(0, 12), 18},
      {R"({"group_index": 2, "amount": 12, "battery_start": 4})", Range(0, 12), 5},
      {R"({"group_index": 3, "amount": 12})", Range(0, 30), 1},
      {R"({"group_index": 1, "amount": 40})", Range(0, 30), 1},
      {R"({"group_index": 2})", Range(0, 30), 1},
      {R"({"active_batteries": [29, 3, 40, -1, 3]})", {3, 29}, 1},
      {R"({"active_batteries": [-1, 30]})", Range(0, 30), 1},
      {R"({"group_index": 1, "amount": 2, "active_batteries": ["7", 1]})", {0, 1, 7}, 1},
      {R"({"battery_start": null, "group_index": null, "amount": 3})", Range(0, 30), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.app_setting);
    const Json::Value config = Config(c.app_setting);
    EXPECT_EQ(ConfiguredCells(config, CellCountOf("halvex_30")), c.cells);
    EXPECT_EQ(FirstCellNumber(config), c.first);
  }
  EXPECT_EQ(ConfiguredCells(Json::Value("x"), 32), Range(0, 32));
  EXPECT_EQ(FirstCellNumber(Json::Value()), 1);
}

TEST(DeviceCells, ValueNamesAreReadBackOnlyWhenTheyNameACell) {
  for (int k : {0, 9, 31, 9999}) EXPECT_EQ(CellOfValueName(CellValueName(k)), k);
  for (const char* name :
       {"battery__value", "battery_10000_value", "battery_1a_value", "battery_-1_value",
        "xbattery_1_value", "battery_1_valuex", "group_voltage", "battery_*_value"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CellOfValueName(name), std::nullopt);
  }
  EXPECT_EQ(HistoryCellColumn(0), "cell_1");
}

TEST(DeviceCells, AStringReadsInTheWindowOfItsBlocks) {
  EXPECT_EQ(WindowOfString(std::nullopt).high, 15.0f);
  EXPECT_EQ(WindowOfString(13.3f).low, 9.0f);
  EXPECT_EQ(WindowOfString(6.7f).low, 4.5f);
  EXPECT_EQ(WindowOfString(7.5f).low, 9.0f);
}

}  // namespace
}  // namespace runner
