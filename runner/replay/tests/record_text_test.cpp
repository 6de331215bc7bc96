#include "runner/replay/record_text.h"

#include <cstring>

#include <gtest/gtest.h>

namespace runner::replay {
namespace {

void PutFloat(std::vector<unsigned char>& image, std::size_t at, float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<unsigned char>(bits >> (8 * i));
}

TEST(RecordText, ReadsEveryFieldAtItsOffset) {
  std::vector<unsigned char> image(152, 0);
  image[0] = 0x04;  // data id 0x01020304, little-endian
  image[1] = 0x03;
  image[2] = 0x02;
  image[3] = 0x01;
  PutFloat(image, 4, 13.25f);          // cell 0
  PutFloat(image, 4 + 4 * 29, 12.5f);  // cell 29
  PutFloat(image, 4 + 4 * 31, 1.0f);   // cell 31, beyond a 30-cell string
  PutFloat(image, 132, 399.5f);
  PutFloat(image, 136, -5.0f);
  image[140] = 7;
  PutFloat(image, 141, 25.5f);  // unaligned
  const unsigned char stamp[7] = {0x57, 0x29, 0x35, 0x01, 0x0E, 0x03, 0x09};
  std::memcpy(image.data() + 145, stamp, 7);

  const auto record = runner::DecodeRecord(image);
  ASSERT_TRUE(record);
  std::string cells = "13.25";
  for (int k = 1; k < 32; ++k) cells += k == 29 ? " 12.5" : k == 31 ? " 1" : " 0";
  EXPECT_EQ(RecordText(*record), "id=16909060 t=2026-12-07 14:03:09 cells=[" + cells +
                                     "] gv=399.5 gc=-5 status=7 temp=25.5");
}

TEST(RecordText, AStampThatIsNoTimeShowsAsADash) {
  const auto zero = runner::DecodeRecord(std::vector<unsigned char>(152));
  ASSERT_TRUE(zero);
  EXPECT_EQ(TimeText(zero->Time()), "-");
}

}  // namespace
}  // namespace runner::replay
