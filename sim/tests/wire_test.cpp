// Frames and the request stream, checked against hand-worked bytes.

#include "sim/wire.h"

#include <gtest/gtest.h>

#include "sim/request_stream.h"

namespace sim {
namespace {

TEST(Checksum, WorkedValues) {
  struct Case {
    const char* name;
    Bytes bytes;
    uint8_t expected;
  };
  const Case cases[] = {
      {"sum 0xFE folds to 0", {0x5D, 0xA1}, 0x00},
      {"sum 0xFF folds to 1", {0x5E, 0xA1}, 0x01},
      {"sum wraps past 0xFF before the fold", {0x60, 0xA1}, 0x01},
      {"plain sum", {0x01, 0xA1}, 0xA2},
      {"empty range", {}, 0x00},
      {"wrap to 0xFE then fold", {0xFF, 0xFF}, 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Checksum(c.bytes), c.expected);
  }
}

TEST(Frames, RequestsForAddressOne) {
  EXPECT_EQ(EncodeRequest(0x01, Command::kCellVoltages), (Bytes{0xFE, 0xFE, 0x01, 0xA1, 0xA2}));
  EXPECT_EQ(EncodeRequest(0x01, Command::kGroupVoltage), (Bytes{0xFE, 0xFE, 0x01, 0xA2, 0xA3}));
  EXPECT_EQ(EncodeRequest(0x01, Command::kCurrent), (Bytes{0xFE, 0xFE, 0x01, 0xA3, 0xA4}));
  EXPECT_EQ(EncodeRequest(0x01, Command::kTemperature), (Bytes{0xFE, 0xFE, 0x01, 0xA4, 0xA5}));
  EXPECT_EQ(EncodeRequest(0x81, Command::kCellVoltages), (Bytes{0xFE, 0xFE, 0x81, 0xA1, 0x22}));
}

TEST(Frames, ScalarReplyIsBigEndianWithChecksum) {
  EXPECT_EQ(EncodeScalarReply(0x01, 500), (Bytes{0xED, 0x01, 0x01, 0xF4, 0xF6}));
  EXPECT_EQ(EncodeScalarReply(0x81, 500), (Bytes{0xED, 0x81, 0x01, 0xF4, 0x76}));
}

TEST(RequestStream, FindsRequestsInAnyChunking) {
  const Bytes a1 = EncodeRequest(0x81, Command::kCellVoltages);
  const Bytes a4 = EncodeRequest(0x82, Command::kTemperature);
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  struct Case {
    const char* name;
    std::vector<Bytes> reads;
    std::vector<std::pair<int, int>> good;  // address and code of each good frame
    int bad;
  };
  const Case cases[] = {
      {"whole", {a1}, {{0x81, 0xA1}}, 0},
      {"byte at a time", {{0xFE}, {0xFE}, {0x81}, {0xA1}, {0x22}}, {{0x81, 0xA1}}, 0},
      {"split after the first preamble byte",
       {{0xFE}, {0xFE, 0x81, 0xA1, 0x22}},
       {{0x81, 0xA1}},
       0},
      {"back to back", {cat({a1, a4})}, {{0x81, 0xA1}, {0x82, 0xA4}}, 0},
      {"noise before", {cat({{0x00, 0x13, 0xFE, 0x55}, a1})}, {{0x81, 0xA1}}, 0},
      {"long preamble", {cat({{0xFE}, a1})}, {{0x81, 0xA1}}, 0},
      {"bad checksum, then good", {cat({{0xFE, 0xFE, 0x81, 0xA1, 0x23}, a4})}, {{0x82, 0xA4}}, 1},
      {"truncated request hides no later one", {cat({{0xFE, 0xFE, 0x81}, a4})}, {{0x82, 0xA4}}, 1},
      {"unknown command still a good frame", {EncodeRequest(0x81, 0x10)}, {{0x81, 0x10}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RequestStream stream;
    std::vector<std::pair<int, int>> good;
    int bad = 0;
    for (const Bytes& read : c.reads) {
      for (const RequestFrame& frame : stream.Push(read)) {
        if (frame.checksum_ok) good.emplace_back(frame.request.address, frame.request.code);
        bad += !frame.checksum_ok;
      }
    }
    EXPECT_EQ(good, c.good);
    EXPECT_EQ(bad, c.bad);
    EXPECT_EQ(stream.Pending(), 0u);
  }
}

}  // namespace
}  // namespace sim
