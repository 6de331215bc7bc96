#include "runner/round/round_result.h"

#include <gtest/gtest.h>

namespace runner {
namespace {

std::vector<unsigned char> RecordOf(const std::vector<float>& cells) {
  BatteryRecord r;
  r.data_id = 7;
  for (std::size_t k = 0; k < cells.size(); ++k) r.cells[k] = cells[k];
  r.group_voltage = 40.0f;
  return EncodeRecord(r);
}

TEST(RoundResultTest, CellsAreTheConfiguredOnesNumberedInTheString) {
  // Slot 1 is not configured; slot 3 is configured but empty (0 V).
  const auto raw = RecordOf({13.3f, 99.0f, 13.1f, 0.0f, 13.5f});
  const CellLayout layout{{0, 2, 3, 4}, 5, 31};
  const auto round = MakeRoundResult("B", 7, HostInstant{}, raw.data(), raw.size(), layout);
  ASSERT_TRUE(round);

  std::vector<int> numbers;
  for (const CellReading& c : round->cells) numbers.push_back(c.number);
  EXPECT_EQ(numbers, (std::vector<int>{31, 33, 34, 35}));
  EXPECT_FALSE(round->Cell(1)) << "an unconfigured slot has no reading, whatever its bytes";
  EXPECT_FLOAT_EQ(*round->Cell(2), 13.1f);
  EXPECT_EQ(round->min_cell->number, 34) << "the empty slot is the lowest configured cell";
  EXPECT_EQ(round->max_cell->number, 35) << "the unconfigured 99 V slot is no extreme";
  ASSERT_TRUE(round->health);
  EXPECT_EQ(round->health->cells, 3) << "no reading (0 V) leaves the health figures";
  EXPECT_FLOAT_EQ(round->record.group_voltage, 40.0f);
  EXPECT_EQ(round->raw, raw);
}

TEST(RoundResultTest, BytesThatAreNotARecordGiveNoResult) {
  const auto raw = RecordOf({13.3f});
  EXPECT_FALSE(MakeRoundResult("B", 7, HostInstant{}, raw.data(), raw.size() - 1, {}));
  EXPECT_FALSE(MakeRoundResult("B", 7, HostInstant{}, nullptr, raw.size(), {}));
}

}  // namespace
}  // namespace runner
