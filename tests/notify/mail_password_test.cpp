// SPDX-License-Identifier: GPL-2.0-or-later
// The stored form of the SMTP password ("ProductID").
#include <gtest/gtest.h>

#include <vector>

#include "notify/mail_settings.h"

namespace raid {
namespace {

TEST(MailPasswordTest, RoundTripsWithEitherSwitchAndAnyKeyByte) {
  for (const std::string password : {"", "a", "fifteen-chars!!", "p\xC3\xA4ss\xFF"}) {
    for (const bool login : {false, true}) {
      for (const std::uint8_t key : {0x00, 0xA5}) {
        const auto stored = ScramblePassword(password, login, key);
        EXPECT_EQ(stored[16], key);
        const UnscrambledPassword back = UnscramblePassword(stored);
        EXPECT_EQ(back.password, password);
        EXPECT_EQ(back.auth_status, login ? kAuthOn : kAuthOff) << password;
      }
    }
  }
}

TEST(MailPasswordTest, KeepsAtMostFifteenCharactersAndHidesThem) {
  const auto stored = ScramblePassword("sixteen-letters!", false, 0);
  EXPECT_EQ(UnscramblePassword(stored).password, "sixteen-letters");
  const std::string bytes(stored.begin(), stored.end());
  EXPECT_EQ(bytes.find("sixteen"), std::string::npos);
}

// Passwords saved by an earlier build must stay readable: the table never changes.
TEST(MailPasswordTest, ValueStoredByAnEarlierBuildStillReads) {
  const std::vector<std::uint8_t> stored = {0x6B, 0xB5, 0x30, 0xB9, 0x06, 0x8F, 0x2D, 0xB5, 0x10,
                                            0x88, 0x5F, 0xC7, 0x63, 0xFB, 0x25, 0xBD, 0x42, 0x8F};
  const UnscrambledPassword back = UnscramblePassword(stored);
  EXPECT_EQ(back.password, "s3cret");
  EXPECT_EQ(back.auth_status, kAuthOn);
}

TEST(MailPasswordTest, CheckByteFlipsTheSwitchOrMakesTheValueUnreadable) {
  const auto stored = ScramblePassword("secret", false, 0x3C);
  for (int flip = 1; flip < 256; ++flip) {
    auto changed = stored;
    changed[17] ^= static_cast<std::uint8_t>(flip);
    const UnscrambledPassword back = UnscramblePassword(changed);
    if (flip == 1) {
      EXPECT_EQ(back.password, "secret");
      EXPECT_EQ(back.auth_status, kAuthOn);
    } else {
      EXPECT_EQ(back.password, "ErrorFormat") << flip;
      EXPECT_EQ(back.auth_status, kAuthUnreadable) << flip;
    }
  }
}

TEST(MailPasswordTest, WrongSizeOrNoEndAmongThePasswordBytesIsUnreadable) {
  const auto stored = ScramblePassword("secret", true, 0);
  for (const std::size_t size : {0, 17, 19, 64}) {
    std::vector<std::uint8_t> value(stored.begin(), stored.end());
    value.resize(size, 0);
    EXPECT_EQ(UnscramblePassword(value).password, "ErrorFormat") << size;
  }
  // Sixteen characters with a check byte that fits: nothing ends the password.
  const std::string fifteen = "fifteen-chars!!";
  auto endless = ScramblePassword(fifteen, false, 0);
  endless[15] ^= 0x10;  // its value was 15, the end; now 31
  std::uint8_t sum = 31;
  for (std::size_t i = 0; i < fifteen.size(); ++i)
    sum = static_cast<std::uint8_t>(sum + fifteen[i] + i);
  endless[17] = sum;
  const UnscrambledPassword back = UnscramblePassword(endless);
  EXPECT_EQ(back.password, "ErrorFormat");
  EXPECT_EQ(back.auth_status, kAuthUnreadable);
}

}  // namespace
}  // namespace raid
