#include "runner/recording/monitor_reply.h"

#include <gtest/gtest.h>

namespace runner::recording {
namespace {

using Bytes = FrameBytes;

TEST(ReplyChecksum, WrapsAtAByteThenModulo254) {
  struct Case {
    const char* name;
    Bytes bytes;
    unsigned char checksum;
  };
  const Case cases[] = {
      {"nothing", {}, 0x00},
      {"sum 0xFE gives 0", {0x5D, 0xA1}, 0x00},
      {"sum 0xFF gives 1", {0x5E, 0xA1}, 0x01},
      {"below 254 unchanged", {0x01, 0xA1}, 0xA2},
      {"sum past a byte wraps first", {0x60, 0xA1}, 0x01},
      {"scalar reply of 500", {0x01, 0x01, 0xF4}, 0xF6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReplyChecksum(c.bytes.data(), c.bytes.size()), c.checksum);
  }
}

TEST(BuildReply, CellReplyIsStartAddressReadingsHighByteFirstAndChecksum) {
  std::vector<std::uint16_t> readings(32, 0);
  readings[0] = 0x1234;
  readings[31] = 0xABCD;
  const Bytes frame = BuildReply(0x81, readings, false);
  ASSERT_EQ(frame.size(), 67u);
  EXPECT_EQ(frame[0], 0xED);
  EXPECT_EQ(frame[1], 0x81);
  EXPECT_EQ(frame[2], 0x12);
  EXPECT_EQ(frame[3], 0x34);
  EXPECT_EQ(frame[64], 0xAB);
  EXPECT_EQ(frame[65], 0xCD);
  // 0x81 + 0x12 + 0x34 + 0xAB + 0xCD = 0x23F -> 0x3F in a byte; below 254
  EXPECT_EQ(frame[66], 0x3F);
}

}  // namespace
}  // namespace runner::recording
