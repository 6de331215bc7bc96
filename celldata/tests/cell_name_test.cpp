// Cell value names: the matcher must find exactly what an ECMAScript search
// for battery_(\d+)_value finds, and turn any digit run into a cell index
// without wrapping.
#include "celldata/cell_name.h"

#include <optional>
#include <random>
#include <regex>
#include <string>

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

std::optional<std::string> RegexDigits(const std::string& name) {
  static const std::regex pattern("battery_(\\d+)_value", std::regex::ECMAScript);
  std::smatch match;
  if (!std::regex_search(name, match, pattern)) return std::nullopt;
  return match[1].str();
}

// The cell an exact, arbitrary-length reading of the digits names, or -1.
int ReferenceCell(const std::optional<std::string>& digits, int cell_count) {
  if (!digits) return -1;
  const auto first = digits->find_first_not_of('0');
  const std::string significant = first == std::string::npos ? "0" : digits->substr(first);
  if (significant.size() > 3) return -1;
  const int n = std::stoi(significant);
  return n < cell_count ? n : -1;
}

void ExpectSameAsRegex(const std::string& name) {
  SCOPED_TRACE(testing::PrintToString(name));
  const auto expected = RegexDigits(name);
  const auto found = halvex::FindCellDigits(name);
  ASSERT_EQ(found.has_value(), expected.has_value());
  if (found) {
    EXPECT_EQ(std::string(*found), *expected);
  }
  for (int count : {30, 32}) {
    int cell = -1;
    const bool ok = halvex::FindCellNumber(name, count, cell);
    EXPECT_EQ(ok ? cell : -1, ReferenceCell(expected, count)) << "cell count " << count;
  }
}

TEST(CellName, TrickyNamesMatchTheRegexSearch) {
  for (const std::string& name : {
           "battery_0_value"s,
           "battery_05_value"s,
           "x_battery_5_value_y"s,
           "xbattery_05_value_y"s,
           "battery_battery_5_value"s,
           "battery_5_valu"s,
           "battery__value"s,
           "battery_1_2_value"s,
           "battery_7_value battery_3_value"s,
           "battery_-1_value"s,
           "battery_+1_value"s,
           "Battery_1_value"s,
           "battery_ 1_value"s,
           "battery_1_value_value"s,
           "battery_1_"s,
           "battery_"s,
           ""s,
           "battery_29_value"s,
           "battery_30_value"s,
           "battery_32_value"s,
           "battery_000000000000000000031_value"s,
           "battery_4294967296_value"s,
           "battery_4294967301_value"s,
           "battery_18446744073709551621_value"s,
           "battery_2147483648_value"s,
           "battery_\xd9\xa3_value"s,
           "battery_\xef\xbc\x93_value"s,
           "battery_1\0_value"s,
           "\0battery_2_value"s,
           "battery_3_value\0"s,
           "battery_battery_12_value_7_value"s,
           "bbattery_1_value"s,
           "battery_1_vvalue battery_2_value"s,
       })
    ExpectSameAsRegex(name);
}

TEST(CellName, GeneratedNamesMatchTheRegexSearch) {
  // Pieces of the pattern, near misses and digits, glued at random.
  const std::string pieces[] = {"battery_", "battery", "_value", "_valu", "value",    "_",
                                "b",        "0",       "1",      "7",     "31",       "29",
                                "00",       "9",       "x",      " ",     "\xd9\xa3", "4294967296"};
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> piece(0, std::size(pieces) - 1), length(0, 7);
  for (int i = 0; i < 4000; ++i) {
    std::string name;
    for (int n = length(random); n > 0; --n) name += pieces[piece(random)];
    ExpectSameAsRegex(name);
  }
}

}  // namespace
