// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/bytes.h"

#include <gtest/gtest.h>

#include <array>

namespace raid {
namespace {

TEST(Bytes, BigAndLittleEndianRoundTripAtOddWidths) {
  std::array<std::uint8_t, 8> buffer{};
  WriteBigEndian(buffer, 1, 6, 0x0000123456789ABCULL);
  EXPECT_EQ(buffer[1], 0x12);
  EXPECT_EQ(buffer[6], 0xBC);
  EXPECT_EQ(ReadBigEndian(buffer, 1, 6), 0x123456789ABCULL);
  WriteLittleEndian(buffer, 0, 5, 0xFF11223344ULL);
  EXPECT_EQ(buffer[0], 0x44);
  EXPECT_EQ(buffer[4], 0xFF);
  EXPECT_EQ(ReadLittleEndian(buffer, 0, 5), 0xFF11223344ULL);
}

TEST(Bytes, SwappedTextExchangesEachPair) {
  std::array<std::uint8_t, 8> field{};
  WriteSwappedText(field, 0, 8, "ABCDE");
  EXPECT_EQ(field[0], 'B');
  EXPECT_EQ(field[1], 'A');
  EXPECT_EQ(field[4], ' ');  // padding takes the place of 'F'
  EXPECT_EQ(field[5], 'E');
  EXPECT_EQ(ReadSwappedText(field, 0, 8), "ABCDE   ");
}

TEST(Bytes, HexUpperPadsToAtLeastTheDigitsAsked) {
  EXPECT_EQ(HexUpper(0x80, 4), "0080");
  EXPECT_EQ(HexUpper(0x1FF80, 4), "1FF80");
  EXPECT_EQ(HexUpper(0xab, 2), "AB");
}

}  // namespace
}  // namespace raid
