// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated host with enclosures discovered and listed, an upgrade over it, and the images to
// write: the common ground of the upgrade tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "firmware/upgrade_firmware.h"
#include "spi_flash.h"
#include "support/simulated_host_test.h"
#include "support/upgrade_test_doubles.h"

namespace raid::testing {

class UpgradeTest : public SimulatedHostTest {
 protected:
  // Builds the host from `scenario_` and installs the first discovery's list.
  void DiscoverHost() {
    BuildHost();
    upgrade_ = std::make_unique<UpgradeFirmware>(*device_, state_, keep_awake_);
    DiscoverAndInstall();
    state_.detection.initial = false;
    recorder().Clear();
  }

  // A newer image than the one the enclosure at `drive` holds: its header fields (type byte,
  // date and product code) and a body that differs from the factory image.
  FirmwareImage NewImage(unsigned drive, std::uint32_t size) {
    sim::SimEnclosure& enclosure = *host_->enclosure(drive);
    const std::vector<std::uint8_t> installed = enclosure.FactoryImage();
    const std::array<std::uint8_t, 8> revision = enclosure.revision();
    std::vector<std::uint8_t> bytes = sim::BuildFirmwareImage(
        {installed[kFirmwareTypeByte], std::span<const std::uint8_t>(revision), size});
    for (std::size_t i = kMinimumImageSize; i < bytes.size(); ++i)
      bytes[i] ^= static_cast<std::uint8_t>(0x5A + i);
    return {bytes, size};
  }

  UpgradeResult Upgrade(const FirmwareImage& image, unsigned device) {
    return upgrade_->Run(image, device, {ui_, views_, views_});
  }

  std::vector<std::uint8_t> Flash(unsigned drive, std::uint32_t length) {
    return host_->enclosure(drive)->FlashBytes(0, length);
  }

  // Packets of one opcode that reached `drive`.
  std::vector<sim::ReceivedPacket> PacketsOf(unsigned drive, std::uint8_t opcode) {
    std::vector<sim::ReceivedPacket> packets = recorder().Packets(drive);
    std::erase_if(packets, [&](const sim::ReceivedPacket& p) { return p.packet.opcode != opcode; });
    return packets;
  }

  // Every path out of an upgrade ends maintenance and lets go of the machine.
  void ExpectMaintenanceEnded() {
    EXPECT_FALSE(state_.upgrade.in_progress.load());
    EXPECT_EQ(state_.upgrade.target_index.load(), kNoUpgradeTarget);
    ASSERT_FALSE(views_.monitor_boxes.empty());
    EXPECT_TRUE(views_.monitor_boxes.back());
    EXPECT_EQ(std::count(views_.monitor_boxes.begin(), views_.monitor_boxes.end(), false),
              std::count(views_.monitor_boxes.begin(), views_.monitor_boxes.end(), true));
    EXPECT_FALSE(views_.shown);
    EXPECT_EQ(keep_awake_.held, 0);
  }

  static constexpr std::uint8_t kOpReadFlash = 0x20;
  static constexpr std::uint8_t kOpEraseFlash = 0x23;
  static constexpr std::uint8_t kOpWriteFlash = 0x25;

  RecordingUpgradeViews views_;
  FakeKeepAwake keep_awake_;
  std::unique_ptr<UpgradeFirmware> upgrade_;
};

}  // namespace raid::testing
