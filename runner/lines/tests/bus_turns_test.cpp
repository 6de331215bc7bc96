#include "runner/lines/bus_turns.h"

#include <gtest/gtest.h>

namespace runner {
namespace {

using std::chrono::milliseconds;
using TimePoint = BusTurns::TimePoint;

const TimePoint kT0{};

TEST(BusTurnsTest, OneDeviceHoldsTheLineUntilItsExchangeEnds) {
  BusTurns turns(3, milliseconds(200));
  turns.MarkAllDue();
  ASSERT_EQ(turns.NextTick(), 0u);
  turns.Sent(0, kT0);
  EXPECT_EQ(turns.NextTick(), std::nullopt) << "a second request while the first is out";
  turns.Heard(kT0 + milliseconds(10));
  turns.Sent(0, kT0 + milliseconds(20));  // the device's next request of the cycle
  EXPECT_EQ(turns.NextTick(), std::nullopt);
  turns.Release();
  EXPECT_EQ(turns.NextTick(), 1u);
}

TEST(BusTurnsTest, SilenceFreesTheLineAfterTheReplyTimeout) {
  BusTurns turns(2, milliseconds(200));
  turns.MarkAllDue();
  ASSERT_EQ(turns.NextTick(), 0u);
  turns.Sent(0, kT0);
  EXPECT_EQ(turns.Expire(kT0 + milliseconds(199)), std::nullopt);
  ASSERT_TRUE(turns.deadline().has_value());
  EXPECT_EQ(*turns.deadline(), kT0 + milliseconds(200));
  EXPECT_EQ(turns.Expire(kT0 + milliseconds(200)), 0u);
  EXPECT_EQ(turns.NextTick(), 1u) << "the next device gets its turn";
}

TEST(BusTurnsTest, ReplyBytesRestartTheTimeout) {
  BusTurns turns(1, milliseconds(200));
  turns.MarkAllDue();
  turns.NextTick();
  turns.Sent(0, kT0);
  turns.Heard(kT0 + milliseconds(150));  // a slow, split reply still coming in
  EXPECT_EQ(turns.Expire(kT0 + milliseconds(300)), std::nullopt);
  EXPECT_EQ(turns.Expire(kT0 + milliseconds(350)), 0u);
}

TEST(BusTurnsTest, WaitingTicksDoNotStackAndRunRoundRobin) {
  BusTurns turns(3, milliseconds(200));
  turns.MarkDue(2);
  turns.MarkDue(2);
  turns.MarkDue(0);
  EXPECT_EQ(turns.NextTick(), 0u);
  EXPECT_EQ(turns.NextTick(), 2u);
  EXPECT_EQ(turns.NextTick(), std::nullopt) << "device 2 was due once, however often marked";
  // After device 0, the turn passes on even when 0 is due again at once.
  turns.MarkAllDue();
  EXPECT_EQ(turns.NextTick(), 0u);
  turns.MarkDue(0);
  EXPECT_EQ(turns.NextTick(), 1u);
  EXPECT_EQ(turns.NextTick(), 2u);
  EXPECT_EQ(turns.NextTick(), 0u);
  EXPECT_TRUE(turns.Idle());
}

TEST(BusTurnsTest, ResetDropsTheHolderAndEveryWaitingTick) {
  BusTurns turns(2, milliseconds(200));
  turns.MarkAllDue();
  turns.NextTick();
  turns.Sent(0, kT0);
  turns.Reset();
  EXPECT_TRUE(turns.Idle());
  EXPECT_EQ(turns.holder(), std::nullopt);
  EXPECT_EQ(turns.NextTick(), std::nullopt);
}

}  // namespace
}  // namespace runner
