// Frames and the request stream, checked against hand-worked bytes.

#include <gtest/gtest.h>

#include "sim/request_stream.h"
#include "sim/wire.h"

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

TEST(Frames, CellReplyLayout) {
  std::array<uint16_t, kCellReadings> readings{};
  for (int i = 0; i < 30; ++i) readings[i] = 1330;  // 13.30 V in 0.01 V counts
  const Bytes frame = EncodeCellReply(0x81, readings);
  ASSERT_EQ(frame.size(), 67u);
  EXPECT_EQ(frame[0], 0xED);
  EXPECT_EQ(frame[1], 0x81);
  EXPECT_EQ(frame[2], 0x05);  // reading 0, high byte first
  EXPECT_EQ(frame[3], 0x32);
  EXPECT_EQ(frame[60], 0x05);  // reading 29
  EXPECT_EQ(frame[61], 0x32);
  EXPECT_EQ((Bytes{frame.begin() + 62, frame.begin() + 66}), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(frame[66], 0xF3);  // (0x81 + 30 * 0x37) mod 256 = 0xF3
}

TEST(Frames, DecodeRequestRejectsDamage) {
  struct Case {
    const char* name;
    Bytes frame;
    bool ok;
  };
  const Case cases[] = {
      {"good", {0xFE, 0xFE, 0x81, 0xA1, 0x22}, true},
      {"bad checksum", {0xFE, 0xFE, 0x81, 0xA1, 0x23}, false},
      {"one preamble byte", {0x00, 0xFE, 0x81, 0xA1, 0x22}, false},
      {"short", {0xFE, 0xFE, 0x81, 0xA1}, false},
      {"long", {0xFE, 0xFE, 0x81, 0xA1, 0x22, 0x00}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto request = DecodeRequest(c.frame);
    ASSERT_EQ(request.has_value(), c.ok);
    if (c.ok) {
      EXPECT_EQ(request->address, 0x81);
      EXPECT_EQ(request->code, 0xA1);
    }
  }
}

// A request is good when its checksum holds; the tally names the addresses
// and codes of the good ones and counts the bad.
struct Tally {
  std::vector<std::pair<int, int>> good;
  int bad = 0;
  bool operator==(const Tally& o) const { return good == o.good && bad == o.bad; }
};

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
    Tally expected;
  };
  const Case cases[] = {
      {"whole", {a1}, {{{0x81, 0xA1}}, 0}},
      {"byte at a time", {{0xFE}, {0xFE}, {0x81}, {0xA1}, {0x22}}, {{{0x81, 0xA1}}, 0}},
      {"split after the first preamble byte", {{0xFE}, {0xFE, 0x81, 0xA1, 0x22}}, {{{0x81, 0xA1}}, 0}},
      {"back to back", {cat({a1, a4})}, {{{0x81, 0xA1}, {0x82, 0xA4}}, 0}},
      {"noise before", {cat({{0x00, 0x13, 0xFE, 0x55}, a1})}, {{{0x81, 0xA1}}, 0}},
      {"long preamble", {cat({{0xFE}, a1})}, {{{0x81, 0xA1}}, 0}},
      {"bad checksum, then good", {cat({{0xFE, 0xFE, 0x81, 0xA1, 0x23}, a4})}, {{{0x82, 0xA4}}, 1}},
      {"truncated request hides no later one", {cat({{0xFE, 0xFE, 0x81}, a4})}, {{{0x82, 0xA4}}, 1}},
      {"unknown command still a good frame", {EncodeRequest(0x81, 0x10)}, {{{0x81, 0x10}}, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RequestStream stream;
    Tally tally;
    for (const Bytes& read : c.reads) {
      for (const RequestFrame& frame : stream.Push(read)) {
        if (frame.checksum_ok) {
          tally.good.emplace_back(frame.request.address, frame.request.code);
        } else {
          ++tally.bad;
        }
      }
    }
    EXPECT_EQ(tally.good, c.expected.good);
    EXPECT_EQ(tally.bad, c.expected.bad);
    EXPECT_EQ(stream.Pending(), 0u);
  }
}

TEST(RequestStream, HoldsAnUnfinishedTail) {
  RequestStream stream;
  EXPECT_TRUE(stream.Push(Bytes{0xFE, 0xFE, 0x81}).empty());
  EXPECT_EQ(stream.Pending(), 3u);
  EXPECT_EQ(stream.Push(Bytes{0xA1, 0x22}).size(), 1u);
}

}  // namespace
}  // namespace sim
