// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/command_packet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <vector>

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST(CommandPacket, AliveQueryKnocksTheDocumentedSixteenAddresses) {
  CommandPacket packet;
  packet.Fill(kDirectionIn, 0x10, 0xCF, 0xDF, 0xEF, {});
  EXPECT_FALSE(packet.HasPayload());
  EXPECT_THAT(packet.KnockList(),
              ElementsAre(0x43, 0x71, 0xA7, 0xDF, 0x100, 0x104, 0x1EF, 0x1FF, 0x210, 0x2CF, 0x2DF,
                          0x2EF, 0x41B, 0x4DF, 0x438, 0x42E));
}

TEST(CommandPacket, LongFormCarriesPayloadThenCheckOverAllPrecedingBytes) {
  std::array<std::uint8_t, kPayloadSize> payload{};
  for (std::size_t i = 0; i < payload.size(); ++i)
    payload[i] = static_cast<std::uint8_t>(i * 3);
  CommandPacket packet;
  packet.Fill(kDirectionOut, 0x25, 0x01, 0x03, 0xFF, payload);

  const auto knocks = packet.KnockList();
  ASSERT_EQ(knocks.size(), kLongKnockCount);
  EXPECT_EQ(knocks[4], 0x101U);  // payload flag
  EXPECT_EQ(knocks[5], 0x105U);  // direction
  EXPECT_EQ(knocks[8], 0x225U);
  for (std::size_t i = 0; i < payload.size(); ++i)
    EXPECT_EQ(knocks[12 + i], 0x300U + payload[i]);

  // The check is zlib's CRC-32 of the 144 bytes before it, most significant byte first.
  const auto bytes = packet.Bytes();
  ASSERT_EQ(bytes.size(), 148U);
  const std::vector<std::uint8_t> covered(bytes.begin(), bytes.begin() + 144);
  const auto crc = static_cast<std::uint32_t>(crc32(0, covered.data(), 144));
  EXPECT_EQ(packet.Check(), crc);
  EXPECT_THAT(std::vector<std::uint32_t>(knocks.end() - 4, knocks.end()),
              ElementsAre(0x400 + (crc >> 24), 0x400 + ((crc >> 16) & 0xFF),
                          0x400 + ((crc >> 8) & 0xFF), 0x400 + (crc & 0xFF)));
}

TEST(CommandPacket, RefillingWithoutPayloadDropsTheOldOne) {
  std::array<std::uint8_t, kPayloadSize> payload{};
  payload.fill(0xAA);
  CommandPacket packet;
  packet.Fill(kDirectionOut, 0x25, 0x01, 0, 0, payload);
  packet.Fill(kDirectionIn, 0x10, 0xCF, 0xDF, 0xEF, {});
  CommandPacket fresh;
  fresh.Fill(kDirectionIn, 0x10, 0xCF, 0xDF, 0xEF, {});
  EXPECT_THAT(packet.KnockList(), ElementsAreArray(fresh.KnockList()));
}

}  // namespace
}  // namespace raid
