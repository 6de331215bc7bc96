#include "runner/replay/scenario_bytes.h"

#include <gtest/gtest.h>

#include "runner/recording/recording_controller.h"

namespace runner::replay {
namespace {

TEST(ParseReadings, RepeatsAndBounds) {
  EXPECT_EQ(ParseReadings({"1330*3", "0"}), (std::vector<std::uint16_t>{1330, 1330, 1330, 0}));
  EXPECT_EQ(ParseReadings({"65535"}), (std::vector<std::uint16_t>{65535}));
  EXPECT_THROW(ParseReadings({"-1"}), std::invalid_argument);
  EXPECT_THROW(ParseReadings({"12a"}), std::invalid_argument);
  EXPECT_THROW(ParseReadings({"5*"}), std::invalid_argument);
}

}  // namespace
}  // namespace runner::replay
