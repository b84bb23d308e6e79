// SPDX-License-Identifier: GPL-2.0-or-later
// The SPI flash commands and the member-drive ATA commands, through the command channel; the
// flash's own ranges across sectors.
#include <gtest/gtest.h>

#include "sim_host.h"
#include "spi_flash.h"
#include "wire_client.h"

namespace raid::sim {
namespace {

using testing::Block;
using testing::Exchange;
using testing::Packet;

class ChannelCommands : public ::testing::Test {
 protected:
  ChannelCommands() : host_(MakeScenario(), clock_), disk_(host_.OpenPhysicalDrive(0)) {}

  static Scenario MakeScenario() {
    EnclosureSpec config;
    config.firmware_type = 0x42;
    config.members[1]->model = "SECOND DRIVE MODEL";
    config.members[1]->serial = "S2-0001";
    config.members[1]->capacity = 0x0000000123456789ULL;
    config.members[1]->word106 = 0x4000;
    config.members[1]->smart_attributes = {{0x05, 100, 90, 3, 36, 0x0033}};
    Scenario scenario;
    scenario.drives[0] = config;
    return scenario;
  }

  Block FlashRead(std::uint32_t address) {
    const auto block = static_cast<std::uint16_t>(address / 128);
    return Exchange(*disk_, Packet{4,
                                   0x20,
                                   1,
                                   static_cast<std::uint8_t>(block >> 8),
                                   static_cast<std::uint8_t>(block),
                                   {}});
  }
  std::uint8_t FlashErase(std::uint32_t address) {
    const auto block = static_cast<std::uint16_t>(address / 128);
    return Exchange(*disk_, Packet{5,
                                   0x23,
                                   1,
                                   static_cast<std::uint8_t>(block >> 8),
                                   static_cast<std::uint8_t>(block),
                                   {}})[48];
  }
  std::uint8_t FlashProgram(std::uint32_t address, std::vector<std::uint8_t> data) {
    const auto block = static_cast<std::uint16_t>(address / 128);
    return Exchange(*disk_, Packet{5, 0x25, 1, static_cast<std::uint8_t>(block >> 8),
                                   static_cast<std::uint8_t>(block), std::move(data)})[48];
  }
  // IDENTIFY (0xEC) or SMART (0xD0, 0xD1) on a controller channel, then its four parts.
  std::optional<std::vector<std::uint8_t>> AtaCommand(std::uint8_t feature, std::uint8_t channel) {
    std::vector<std::uint8_t> frame = {0x27, 0x80, 0xB0, feature, 0x01, 0x4F, 0xC2, 0xE0, 0, 0,
                                       0,    0,    0x01, 0,       0,    0,    0,    0,    0, 0};
    if (feature == 0xEC) {
      frame[2] = 0xEC;
      frame[3] = 0;
    }
    frame.resize(128, 0);
    const Block started = Exchange(*disk_, Packet{5, 0xB1, feature, channel, 0, frame});
    EXPECT_EQ(started[76], 0xB1);
    EXPECT_EQ(started[77], feature);
    if (started[48] != 0x20) return std::nullopt;
    std::vector<std::uint8_t> result;
    for (std::uint8_t part = 1; part <= 4; ++part) {
      const Block answer = Exchange(*disk_, Packet{4, 0xB2, feature, channel, part, {}});
      EXPECT_EQ(answer[48], 0x20);
      EXPECT_EQ(answer[76], 0xB2);
      EXPECT_EQ(answer[77], feature);
      result.insert(result.end(), answer.begin() + 80, answer.begin() + 208);
    }
    return result;
  }

  VirtualClock clock_;
  SimHost host_;
  std::unique_ptr<Disk> disk_;
};

TEST_F(ChannelCommands, FlashHoldsAFirmwareImageWithItsHeaderFields) {
  const Block header = FlashRead(128);
  ASSERT_EQ(header[48], 0x20);
  EXPECT_EQ(testing::TextAt(header, 80, 4), "KDRX");
  const std::vector<std::uint8_t> guid = {0xEF, 0x6D, 0x16, 0xAE, 0xDC, 0x6F, 0x4C, 0x47,
                                          0x9B, 0xA4, 0xB6, 0xAA, 0xE4, 0xB6, 0x9A, 0x84};
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin() + 84, header.begin() + 100), guid);
  EXPECT_EQ(header[80 + 21], 0x42);  // byte 149
  const auto revision = host_.enclosure(0)->revision();
  for (std::size_t i = 0; i < 6; ++i)
    EXPECT_EQ(header[80 + 28 + i], revision[i]) << i;

  EXPECT_EQ(FlashRead(0x7FFF80)[80], 0xFF);  // far beyond the image: erased
}

TEST_F(ChannelCommands, ProgrammingOnlyClearsBitsAndEraseWorksOnWholeSectors) {
  const std::uint32_t address = 0x2080;
  const std::vector<std::uint8_t> data(128, 0x3C);
  const auto original = host_.enclosure(0)->FlashBytes(address, 128);

  ASSERT_EQ(FlashProgram(address, data), 0x20);
  Block read = FlashRead(address);
  for (std::size_t i = 0; i < 128; ++i)
    ASSERT_EQ(read[80 + i], original[i] & 0x3C) << i;

  const auto neighbour_before = host_.enclosure(0)->FlashBytes(0x3000, 16);
  ASSERT_EQ(FlashErase(0x2000), 0x20);
  EXPECT_EQ(host_.enclosure(0)->FlashBytes(0x2000, 4096), std::vector<std::uint8_t>(4096, 0xFF));
  EXPECT_EQ(host_.enclosure(0)->FlashBytes(0x3000, 16), neighbour_before);
  EXPECT_NE(host_.enclosure(0)->FlashBytes(0x1FF0, 16), std::vector<std::uint8_t>(16, 0xFF));

  ASSERT_EQ(FlashProgram(address, data), 0x20);
  read = FlashRead(address);
  EXPECT_EQ(std::vector<std::uint8_t>(read.begin() + 80, read.begin() + 208), data);
}

// Only written sectors hold memory: a range that crosses from one into an erased one, or past the
// flash's end, must read and write as one flat flash of 0xFF.
TEST(SpiFlash, RangesAcrossSectorsAndPastTheEndBehaveAsOneErasedFlash) {
  SpiFlash flash;
  const std::vector<std::uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
  flash.Store(0x0FFC, data);
  flash.ProgramBlock(0x1FFC, data);  // its second half into a sector never written
  const auto ff = [](std::size_t n) { return std::vector<std::uint8_t>(n, 0xFF); };
  const std::vector<std::uint8_t> around = {0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0xFF};
  EXPECT_EQ(flash.Bytes(0x0FFA, 12), around);
  EXPECT_EQ(flash.Bytes(0x1FFA, 12), around);

  flash.EraseSector(0x1FFF);  // the second sector, which holds 5..8 of the first store
  const std::vector<std::uint8_t> head = {1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(flash.Bytes(0x0FFC, 8), head);
  EXPECT_EQ(flash.Bytes(0x1000, kFlashSectorSize), ff(kFlashSectorSize));
  flash.ProgramBlock(0x1FFC, std::vector<std::uint8_t>(8, 0xF0));  // clears bits only
  const std::vector<std::uint8_t> anded = {0xF0, 0xF0, 0xF0, 0xF0, 0, 0, 0, 0};
  EXPECT_EQ(flash.Bytes(0x1FFC, 8), anded);

  flash.Store(kFlashSize - 2, data);
  flash.EraseSector(kFlashSize);
  const std::vector<std::uint8_t> end = {1, 2, 0xFF, 0xFF};
  EXPECT_EQ(flash.Bytes(kFlashSize - 2, 4), end);
}

TEST_F(ChannelCommands, IdentifyComesBackInFourPartsWithAtaLayout) {
  // Port order bit set: channel 1 is HDD2.
  const auto identify = AtaCommand(0xEC, 1);
  ASSERT_TRUE(identify);
  Block data{};
  std::copy(identify->begin(), identify->end(), data.begin());
  EXPECT_EQ(testing::SwappedTextAt(data, 54, 40).substr(0, 18), "SECOND DRIVE MODEL");
  EXPECT_EQ(testing::SwappedTextAt(data, 20, 20).substr(0, 7), "S2-0001");
  EXPECT_EQ(testing::LittleEndianAt(data, 200, 8), 0x0000000123456789ULL);
  EXPECT_EQ(testing::LittleEndianAt(data, 212, 2), 0x4000u);
  std::uint8_t sum = 0;
  for (std::uint8_t b : data)
    sum = static_cast<std::uint8_t>(sum + b);
  EXPECT_EQ(sum, 0);  // ATA checksum

  const auto hdd1 = AtaCommand(0xEC, 0);
  ASSERT_TRUE(hdd1);
  EXPECT_EQ((*hdd1)[212] | ((*hdd1)[213] << 8), 0x6003);
}

TEST_F(ChannelCommands, SmartDataAndThresholdsShareSlotPositions) {
  const auto smart = AtaCommand(0xD0, 1);
  const auto thresholds = AtaCommand(0xD1, 1);
  ASSERT_TRUE(smart && thresholds);
  bool found = false;
  for (std::size_t slot = 2; slot < 2 + 30 * 12; slot += 12) {
    if ((*smart)[slot] != 0x05) continue;
    found = true;
    EXPECT_EQ((*smart)[slot + 3], 100);
    EXPECT_EQ((*smart)[slot + 4], 90);
    EXPECT_EQ((*smart)[slot + 5], 3);  // raw, little-endian
    EXPECT_EQ((*thresholds)[slot], 0x05);
    EXPECT_EQ((*thresholds)[slot + 1], 36);
  }
  EXPECT_TRUE(found);
}

TEST_F(ChannelCommands, DriveCommandsOnAnAbsentDriveFailAndLeaveNothingToFetch) {
  host_.enclosure(0)->PullDrive(0);
  EXPECT_FALSE(AtaCommand(0xEC, 0));
  const Block part = Exchange(*disk_, Packet{4, 0xB2, 0xEC, 0, 1, {}});
  EXPECT_EQ(part[48], 0xE0);
}

}  // namespace
}  // namespace raid::sim
