// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/drive_letters.h"

#include <gtest/gtest.h>

#include <string>

namespace raid {
namespace {

std::string Letters(std::uint32_t mask) {
  const std::vector<char> letters = DriveLettersFromMask(mask);
  return std::string(letters.begin(), letters.end());
}

TEST(DriveLetters, FloppyLettersAloneGiveNoVolume) {
  EXPECT_EQ(Letters(0x0), "");
  EXPECT_EQ(Letters(0x1), "");  // A
  EXPECT_EQ(Letters(0x3), "");  // A and B
  EXPECT_EQ(Letters(0x7), "C");
}

TEST(DriveLetters, SetBitsFromCUpwardsWithGaps) {
  EXPECT_EQ(Letters((1U << 2) | (1U << 4) | (1U << 25)), "CEZ");
  EXPECT_EQ(Letters(1U << 3), "D");
}

TEST(DriveLetters, AtMostTheTwentyFourLettersCToZ) {
  EXPECT_EQ(Letters(0xFFFFFFFFU), "CDEFGHIJKLMNOPQRSTUVWXYZ");
  // Bits above Z name no letter.
  EXPECT_EQ(Letters(0xFC000000U | (1U << 5)), "F");
  EXPECT_EQ(Letters(0xFC000000U), "");
}

}  // namespace
}  // namespace raid
