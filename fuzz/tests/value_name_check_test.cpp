// Get_Value's cell names against std::regex_search, on the names that trip
// up hand-written matchers.
#include "fuzz/value_name_check.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace halvex::fuzz {
namespace {

TEST(ValueNameCheck, DeviceAgreesWithTheRegularExpression) {
  using namespace std::string_literals;
  const std::vector<std::string> names = {
      "battery_0_value",
      "battery_29_value",
      "battery_30_value",
      "battery_05_value",
      "x_battery_5_value_y",
      "battery_battery_5_value",
      "battery_5_valu",
      "battery__value",
      "battery_1_2_value",
      "battery_7_value battery_3_value",
      "battery_1_vvalue battery_2_value",
      "battery_\xd9\xa3_value",
      "battery_\xef\xbc\x93_value",
      "battery_1\0_value"s,
      "\0battery_2_value"s,
      "battery_4294967296_value",
      "battery_18446744073709551621_value",
      "battery_-1_value",
      "battery_+1_value",
      "battery_ 1_value",
      "Battery_1_value",
      "group_voltage",
      "group_voltage ",
      "group_current",
      "temperature",
      "Temperature",
      "",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CheckValueName(name), "");
  }
}

}  // namespace
}  // namespace halvex::fuzz
