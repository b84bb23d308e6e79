// SPDX-License-Identifier: GPL-2.0-or-later
// Flash range operations against the simulated controller's SPI flash.
#include "device/flash_access.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <numeric>

#include "device/device_access.h"
#include "sim_host.h"
#include "support/simulated_host_test.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

constexpr unsigned kDrive = 1;

class FlashAccessTest : public testing::SimulatedHostTest {
 protected:
  FlashAccessTest() {
    scenario_.drives[kDrive] = sim::DriveSpec(sim::EnclosureSpec{});
    BuildHost();
    const DiskRef drive = IdentifiedDrive(kDrive);
    device_->registry().current = {
        EnclosureInfo{.device_code = drive.device_code, .identity = drive.identity}};
    recorder().Clear();
    state_.upgrade.target_index = 0;
  }
  FlashAccess& flash() { return device_->flash(); }
  sim::SimEnclosure& enclosure() { return *host_->enclosure(kDrive); }
};

TEST_F(FlashAccessTest, BlockThatFailsTwiceIsRetriedAndReportedWithItsAttemptCount) {
  enclosure().FailFlashBlock(0x80, 2);
  std::vector<std::uint8_t> data(256);
  EXPECT_TRUE(flash().FlashRead(0, 256, data, ui_));
  EXPECT_EQ(ui_.panels[4], "ReadSPI fail 2 times, Address = 0080");
  EXPECT_EQ(data, enclosure().FlashBytes(0, 256));
  EXPECT_EQ(state_.upgrade.progress_count, 2U);
}

TEST_F(FlashAccessTest, NineFailuresEndTheRangeAtOnce) {
  enclosure().FailFlashBlock(0x80, 9);
  std::vector<std::uint8_t> data(512);
  EXPECT_FALSE(flash().FlashRead(0, 512, data, ui_));
  EXPECT_EQ(ui_.panels[4], "ReadSPI fail, Address = 0080");
  EXPECT_EQ(ui_.panel_history.size(), 10U);
  EXPECT_EQ(ui_.panel_history[8].second, "ReadSPI fail 9 times, Address = 0080");
  EXPECT_EQ(state_.upgrade.progress_count, 1U);
  // The blocks after the failed one were never asked for.
  const std::vector<sim::ReceivedPacket> packets = host_->recorder().Packets(kDrive);
  EXPECT_EQ(packets.size(), 10U);
}

TEST_F(FlashAccessTest, WritePrefixHasNoBlankBeforeTheAttemptNumber) {
  enclosure().FailFlashBlock(0x21000, 1);
  const std::vector<std::uint8_t> data(128, 0x11);
  EXPECT_TRUE(flash().FlashWrite(0x21000, 128, data, ui_));
  EXPECT_EQ(ui_.panels[4], "WriteSPI fail1 times, Address = 21000");
}

TEST_F(FlashAccessTest, EraseProgramAndReadBackARange) {
  std::vector<std::uint8_t> image(5000);  // not a whole number of blocks
  std::iota(image.begin(), image.end(), 7);
  ASSERT_TRUE(flash().FlashErase(0x30000, 8192, ui_));
  EXPECT_EQ(state_.upgrade.progress_count, 2U);  // two 4096-byte sectors
  ASSERT_TRUE(flash().FlashWrite(0x30000, static_cast<std::uint32_t>(image.size()), image, ui_));
  std::vector<std::uint8_t> back(image.size());
  ASSERT_TRUE(flash().FlashRead(0x30000, static_cast<std::uint32_t>(back.size()), back, ui_));
  EXPECT_EQ(back, image);
  // The short last block was padded with the erased value, leaving the rest of it erased.
  EXPECT_EQ(enclosure().FlashBytes(0x30000 + 5000, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));
  EXPECT_EQ(state_.upgrade.progress_count, 2U + 40U + 40U);
  EXPECT_THAT(ui_.messages, IsEmpty());
}

TEST_F(FlashAccessTest, WriteAndEraseRefuseWithoutAListedUpgradeTarget) {
  state_.upgrade.target_index = 1;
  const std::vector<std::uint8_t> data(128);
  EXPECT_FALSE(flash().FlashWrite(0, 128, data, ui_));
  EXPECT_EQ(ui_.panels[4], "No Upgrade Mode!!!");
  EXPECT_EQ(ui_.messages.back(), (MessageBoxRequest{"Message", "No Upgrade Mode !"}));

  device_->registry().current.clear();
  EXPECT_FALSE(flash().FlashErase(0, 4096, ui_));
  EXPECT_EQ(ui_.panels[4], "Device not found!!!");
  EXPECT_EQ(ui_.messages.back(), (MessageBoxRequest{"Message", "No Device found !"}));
  EXPECT_THAT(host_->recorder().Calls(), IsEmpty());
}

TEST_F(FlashAccessTest, UnopenableDiskIsAnInvalidDrive) {
  host_->Unplug(kDrive);
  std::vector<std::uint8_t> data(128);
  EXPECT_FALSE(flash().FlashRead(0, 128, data, ui_));
  EXPECT_EQ(ui_.messages.back(), (MessageBoxRequest{"", "Invalid Drive"}));
}

// An upgrade erases, programs and verifies in separate ranges, each opening the disk anew. When
// the enclosure is unplugged between two of them and another enclosure takes its drive number,
// the next range must not erase or program the newcomer's flash.
TEST_F(FlashAccessTest, ADiskThatTookTheTargetsNumberGetsNoCommand) {
  ASSERT_TRUE(flash().FlashErase(0, 4096, ui_));
  sim::EnclosureSpec newcomer;
  newcomer.model_text = "ANOTHER ENCLOSURE";
  host_->Unplug(kDrive);
  host_->Plug(kDrive, sim::DriveSpec(newcomer));
  const std::vector<std::uint8_t> before = enclosure().FlashBytes(0, 8192);
  recorder().Clear();

  const std::vector<std::uint8_t> image(4096, 0x5A);
  EXPECT_FALSE(flash().FlashWrite(0, 4096, image, ui_));
  EXPECT_FALSE(flash().FlashErase(0, 8192, ui_));
  EXPECT_EQ(ui_.messages.back(), (MessageBoxRequest{"", "Invalid Drive"}));
  std::array<std::uint8_t, 512> reply{};
  EXPECT_EQ(device_->commands().QueryControllerOn(device_->registry().current[0].Ref(),
                                                  kQueryArrayStatus, reply),
            kResultOpenFailed);

  // It was opened (that is how it was told apart) but never read.
  EXPECT_EQ(recorder().ReadCount(kDrive), 0U);
  EXPECT_THAT(recorder().Packets(kDrive), IsEmpty());
  EXPECT_EQ(enclosure().FlashBytes(0, 8192), before);
}

// A host that numbers its disks by position renumbers them when a lower one leaves: the
// enclosure behind the next number is another one, and must not be programmed.
TEST_F(FlashAccessTest, AnotherEnclosureRenumberedIntoTheTargetsPlaceGetsNoCommand) {
  host_->Plug(kDrive + 1, sim::DriveSpec(sim::EnclosureSpec{}));
  host_->Unplug(kDrive);
  ASSERT_TRUE(host_->Move(kDrive + 1, kDrive));
  const std::vector<std::uint8_t> before = enclosure().FlashBytes(0, 4096);
  recorder().Clear();

  EXPECT_FALSE(flash().FlashErase(0, 4096, ui_));
  EXPECT_EQ(recorder().ReadCount(kDrive), 0U);
  EXPECT_EQ(enclosure().FlashBytes(0, 4096), before);
}

TEST_F(FlashAccessTest, DuringDiscoveryTheProbedDriveIsRead) {
  device_->registry().current.clear();
  state_.upgrade.target_index = kNoUpgradeTarget;
  state_.detection.running = true;
  device_->registry().probe = {kDrive, IdentifiedDrive(kDrive).identity};
  std::vector<std::uint8_t> head(256);
  EXPECT_TRUE(flash().FlashRead(0, 256, head, ui_));
  EXPECT_EQ(head[149], 0x03);
}

}  // namespace
}  // namespace raid
