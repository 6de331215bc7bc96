// Checksum, request frames and the gathering of received chunks.
#include "battery/wire.h"

#include <vector>

#include <gtest/gtest.h>

#include "battery/reassembly.h"
#include "battery/tests/test_battery.h"

namespace halvex::testing {
namespace {

TEST(Wire, ChecksumIsAWrappingSumModulo254) {
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    unsigned char expected;
  } cases[] = {
      {"sum 0xFE folds to 0", {0x5D, 0xA1}, 0x00},
      {"sum 0xFF folds to 1", {0x5E, 0xA1}, 0x01},
      {"sum 0x101 wraps then stays", {0x60, 0xA1}, 0x01},
      {"address 1, cell request", {0x01, 0xA1}, 0xA2},
      {"scalar reply 500", {0x01, 0x01, 0xF4}, 0xF6},
      {"empty range", {}, 0x00},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(wire::Checksum(c.bytes.data(), c.bytes.size()), c.expected);
    TestBattery dev;
    EXPECT_EQ(dev.GetMMCheckSum(c.bytes.data(), static_cast<int>(c.bytes.size())), c.expected);
  }
}

TEST(Wire, RequestFramesOfOneCycle) {
  // Configured address 0x81 is 0x01 on the wire.
  Json::Value host_setting;
  host_setting["address"] = 0x81;
  auto host = std::make_shared<RecordingController>();
  TestBattery dev;
  dev.Init(host, 1, host_setting);
  dev.InitSetting(Json::Value());
  dev.RefreshStatus();
  std::vector<unsigned char> cells = CellReply(0x01, 1330);
  dev.process(cells.data(), static_cast<unsigned>(cells.size()));
  for (unsigned value : {4000u, 50u}) {
    auto reply = ScalarReply(0x01, value);
    dev.process(reply.data(), static_cast<unsigned>(reply.size()));
  }
  EXPECT_EQ(host->Frames(), (RecordingController::Lines{"FE FE 01 A1 A2", "FE FE 01 A2 A3",
                                                        "FE FE 01 A3 A4", "FE FE 01 A4 A5"}));
  EXPECT_EQ(Hex(ScalarReply(0x01, 500)), "ED 01 01 F4 F6");
}

TEST(Wire, ReplyCheckSaysWhyAReplyIsRefused) {
  std::vector<unsigned char> cells = CellReply(0x01, 1330);
  std::vector<unsigned char> cells_bad_sum = cells;
  cells_bad_sum[wire::kCellReplyLength - 1] ^= 0x01;
  std::vector<unsigned char> cells_last_reading_changed = cells;
  cells_last_reading_changed[wire::kCellReplyLength - 2] ^= 0x01;  // r31, only in the checksum
  struct Case {
    const char* name;
    std::vector<unsigned char> reply;
    unsigned char address;
    wire::ReplyCheck expected;
  } cases[] = {
      {"scalar reply taken", ScalarReply(0x01, 500), 0x01, wire::ReplyCheck::kGood},
      {"scalar: start byte first, before the address", Bytes("EE 02 01 F4 F6"), 0x01,
       wire::ReplyCheck::kBadStart},
      {"scalar: another monitor's valid reply", ScalarReply(0x02, 500), 0x01,
       wire::ReplyCheck::kWrongAddress},
      {"scalar: checksum over address and value", Bytes("ED 01 01 F4 F5"), 0x01,
       wire::ReplyCheck::kBadChecksum},
      {"cell reply taken", cells, 0x01, wire::ReplyCheck::kGood},
      {"cell: wrong address", cells, 0x02, wire::ReplyCheck::kWrongAddress},
      {"cell: checksum byte is the 67th", cells_bad_sum, 0x01, wire::ReplyCheck::kBadChecksum},
      {"cell: the last reading counts in the checksum", cells_last_reading_changed, 0x01,
       wire::ReplyCheck::kBadChecksum},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(wire::CheckReply(c.reply.data(), static_cast<unsigned>(c.reply.size()), c.address),
              c.expected);
  }
}

TEST(Reassembly, BoundsNoiseAndAppending) {
  const std::vector<unsigned char> noise_then_reply = Bytes("00 13 ED 01 01 F4 F6");
  struct Case {
    const char* name;
    unsigned held;  // bytes already buffered (an ED frame start)
    std::vector<unsigned char> chunk;
    wire::Gathered result;
    unsigned held_after;
  } cases[] = {
      {"80 bytes into an empty buffer", 0, std::vector<unsigned char>(80, 0xED),
       wire::Gathered::kKept, 80},
      {"81 bytes are dropped whole", 0, std::vector<unsigned char>(81, 0xED),
       wire::Gathered::kOverflow, 0},
      {"76 held plus 4", 76, std::vector<unsigned char>(4, 0x00), wire::Gathered::kKept, 80},
      {"76 held plus 5 empties the buffer", 76, std::vector<unsigned char>(5, 0x00),
       wire::Gathered::kOverflow, 0},
      {"noise before the start byte is skipped", 0, noise_then_reply, wire::Gathered::kKept, 5},
      {"no start byte keeps the buffer empty", 0, Bytes("01 02 03"), wire::Gathered::kKept, 0},
      {"held bytes take the next chunk unsearched", 3, Bytes("01 02 03"), wire::Gathered::kKept, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    unsigned char buf[wire::kReplyBufferLimit] = {0xED};
    std::uint32_t held = c.held;
    EXPECT_EQ(wire::GatherChunk(buf, held, c.chunk.data(), static_cast<unsigned>(c.chunk.size())),
              c.result);
    EXPECT_EQ(held, c.held_after);
  }
  unsigned char buf[wire::kReplyBufferLimit];
  std::uint32_t held = 0;
  wire::GatherChunk(buf, held, noise_then_reply.data(), 7);
  EXPECT_EQ(Hex(buf, held), "ED 01 01 F4 F6");
}

TEST(Reassembly, HugeLengthsNeverWrapTheBound) {
  unsigned char buf[wire::kReplyBufferLimit] = {0xED};
  const unsigned char byte = 0xED;
  for (unsigned len : {0xFFFFFFFFu, 0xFFFFFFB0u, 0x80000000u}) {
    SCOPED_TRACE(len);
    std::uint32_t held = 10;
    // Only the bound is examined before the drop, so one byte of storage is enough.
    EXPECT_EQ(wire::GatherChunk(buf, held, &byte, len), wire::Gathered::kOverflow);
    EXPECT_EQ(held, 0u);
  }
}

TEST(Reassembly, NullChunkIsEmpty) {
  unsigned char buf[wire::kReplyBufferLimit] = {0xED};
  std::uint32_t held = 3;
  EXPECT_EQ(wire::GatherChunk(buf, held, nullptr, 50), wire::Gathered::kKept);
  EXPECT_EQ(held, 3u);
}

}  // namespace
}  // namespace halvex::testing
