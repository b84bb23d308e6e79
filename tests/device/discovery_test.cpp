// SPDX-License-Identifier: GPL-2.0-or-later
// Discovery against a simulated host of enclosures and plain disks.
#include "device/discovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "common/text_helpers.h"
#include "device/device_access.h"
#include "sim_host.h"
#include "support/simulated_host_test.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class CountingFiller : public InitialStatusFiller {
 public:
  void InitialStatusFill(unsigned position, unsigned slot) override {
    calls.emplace_back(position, slot);
  }
  void KeptWithoutAnswer(unsigned position, unsigned slot) override {
    kept.emplace_back(position, slot);
  }
  std::vector<std::pair<unsigned, unsigned>> calls;
  std::vector<std::pair<unsigned, unsigned>> kept;
};

class DiscoveryTest : public testing::SimulatedHostTest {
 protected:
  void Build() {
    BuildHost();
    device_->discovery().SetStatusFiller(&filler_);
  }
  unsigned Discover() { return DiscoverAndInstall(); }

  CountingFiller filler_;
};

TEST_F(DiscoveryTest, FindsBothEnclosuresAmongPlainDisksAndIdentifiesThem) {
  scenario_.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[2] = sim::DriveSpec(sim::PlainDiskSpec{});
  scenario_.drives[3] = sim::DriveSpec(sim::EnclosureSpec::PortMultiplier());
  scenario_.drives[4] = sim::DriveSpec(sim::PlainDiskSpec{});
  Build();

  ASSERT_EQ(Discover(), 2U);
  const EnclosureInfo& raid = registry().current[0];
  EXPECT_EQ(raid.device_code, 0x41U);
  EXPECT_EQ(raid.controller_kind, ControllerKind::kRaidBridge);
  EXPECT_EQ(raid.firmware_type_byte, 0x03);  // flash byte 149
  EXPECT_TRUE(raid.model_from_controller);
  EXPECT_FALSE(raid.port_swap);  // revision byte 3 = 0x13: bit 4 set
  EXPECT_TRUE(raid.sensor_capable);
  EXPECT_EQ(ModelText(registry().CurrentBlock(0), kIdModelText), "TORVANE TR6182 Dual SATA RAID");
  EXPECT_EQ(FirmwareRevisionText(registry().CurrentBlock(0)), "160520.3");

  const EnclosureInfo& multiplier = registry().current[1];
  EXPECT_EQ(multiplier.device_code, 0x43U);
  EXPECT_EQ(multiplier.controller_kind, ControllerKind::kPortMultiplier);
  EXPECT_EQ(multiplier.firmware_type_byte, 0x01);
  EXPECT_FALSE(multiplier.model_from_controller);
  EXPECT_TRUE(multiplier.port_swap);  // revision byte 3 = 0x01: bit 4 clear
  EXPECT_FALSE(multiplier.sensor_capable);
  // INQUIRY bytes 8-23 (the vendor and the start of the product), pairs swapped in the block,
  // then blanks up to 40 characters.
  const IdentificationBlock& block = registry().CurrentBlock(1);
  EXPECT_EQ(block[54], 'E');
  EXPECT_EQ(block[55], 'K');
  EXPECT_EQ(block[70], ' ');
  EXPECT_EQ(block[93], ' ');
  EXPECT_EQ(ModelText(block, kIdModelText), "KELDRIX PM2109 D");

  EXPECT_THAT(filler_.calls, ElementsAre(std::pair{0U, 1U}, std::pair{1U, 3U}));
  EXPECT_THAT(recorder().ViolationTexts(), IsEmpty());
  EXPECT_THAT(ui_.messages, IsEmpty());
}

TEST_F(DiscoveryTest, PlainDiskGetsOnlyTheAliveQueryReadsForAboutTwoSeconds) {
  scenario_.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
  Build();
  state_.detection.running = true;
  device_->discovery().CountPhysicalDrives();
  const std::uint64_t start = clock_.NowMs();
  EXPECT_EQ(device_->discovery().DiscoverEnclosures(ui_), 0U);
  EXPECT_GE(clock_.NowMs() - start, 2000U);
  EXPECT_LT(clock_.NowMs() - start, 3000U);

  const std::vector<sim::RecordedCall> calls = recorder().CallsFor(0);
  const std::size_t reads = static_cast<std::size_t>(std::count_if(
      calls.begin(), calls.end(), [](const auto& c) { return c.kind == sim::CallKind::kRead; }));
  const std::vector<std::uint32_t> lbas = recorder().ReadLbas(0);
  EXPECT_EQ(std::vector<std::uint32_t>(lbas.begin(), lbas.begin() + 4),
            (std::vector<std::uint32_t>{0x43, 0x71, 0xA7, 0xDF}));
  EXPECT_EQ(reads, 16U + 2U * 200U);  // one knock sequence, then 200 polls of two reads
  for (const sim::RecordedCall& call : calls) {
    EXPECT_TRUE(call.kind == sim::CallKind::kRead || call.kind == sim::CallKind::kOpen ||
                call.kind == sim::CallKind::kClose);
  }
}

TEST_F(DiscoveryTest, ExcludedProductCodesAreNotListed) {
  sim::EnclosureSpec first;
  first.revision[4] = 0x50;
  first.revision[5] = 0x00;
  sim::EnclosureSpec second;
  second.revision[4] = 0x05;
  second.revision[5] = 0x00;
  sim::EnclosureSpec kept;
  kept.revision[4] = 0x50;
  kept.revision[5] = 0x01;
  scenario_.drives[0] = sim::DriveSpec(first);
  scenario_.drives[1] = sim::DriveSpec(second);
  scenario_.drives[2] = sim::DriveSpec(kept);
  Build();
  ASSERT_EQ(Discover(), 1U);
  EXPECT_EQ(registry().current[0].device_code, 0x42U);
}

TEST_F(DiscoveryTest, PassEndsOnceEveryCountedDriveWasHandled) {
  scenario_.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  state_.detection.running = true;
  device_->discovery().CountPhysicalDrives();
  host_->Plug(5, sim::DriveSpec(sim::EnclosureSpec{}));  // arrives after the count
  EXPECT_EQ(device_->discovery().DiscoverEnclosures(ui_), 1U);
  for (const sim::RecordedCall& call : recorder().Calls()) {
    if (call.kind == sim::CallKind::kOpen) {
      EXPECT_LT(call.target.drive.value_or(99), 5U);
    }
  }
}

TEST_F(DiscoveryTest, DriveWithoutRightsIsSkippedAndNamed) {
  sim::DriveSpec locked{sim::EnclosureSpec{}};
  locked.openable = false;
  scenario_.drives[0] = locked;
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  ASSERT_EQ(Discover(), 1U);
  EXPECT_EQ(registry().current[0].device_code, 0x41U);
  EXPECT_THAT(device_->discovery().UnopenedDrives(),
              ElementsAre(UnopenedDrive{0, OpenFailure::kAccessDenied}));
}

TEST_F(DiscoveryTest, EmptyPassIsRepeatedOnce) {
  scenario_.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
  Build();
  EXPECT_EQ(Discover(), 0U);
  const std::vector<std::uint32_t> lbas = recorder().ReadLbas(0);
  EXPECT_EQ(std::count(lbas.begin(), lbas.end(), 0x43U), 2);
}

// Reads and INQUIRYs: the commands a disk receives (opening it to count it is not one).
std::size_t CommandsTo(const sim::Recorder& recorder, unsigned drive) {
  const std::vector<sim::RecordedCall> calls = recorder.CallsFor(drive);
  return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [](const auto& c) {
    return c.kind == sim::CallKind::kRead || c.kind == sim::CallKind::kInquiry;
  }));
}

TEST_F(DiscoveryTest, EnclosureUnderUpgradeGetsNoCommandAndKeepsItsPlace) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[2] = sim::DriveSpec(sim::EnclosureSpec::PortMultiplier());
  Build();
  ASSERT_EQ(Discover(), 2U);
  state_.detection.initial = false;
  const EnclosureInfo upgraded = registry().current[0];

  state_.upgrade.target_index = 0;
  recorder().Clear();
  ASSERT_EQ(Discover(), 2U);
  EXPECT_EQ(registry().current[0], upgraded);
  EXPECT_EQ(CommandsTo(recorder(), 1), 0U);
  EXPECT_GT(CommandsTo(recorder(), 2), 0U);
}

// With the enclosure ahead of it gone, the one under upgrade moves up and UpgradeTargetIndex
// follows it; a list that waited past the end of the upgrade changes the index no more.
TEST_F(DiscoveryTest, UpgradeTargetIndexFollowsTheEnclosureUnderUpgradeUntilTheUpgradeEnds) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[2] = sim::DriveSpec(sim::EnclosureSpec::PortMultiplier());
  Build();
  ASSERT_EQ(Discover(), 2U);
  state_.detection.initial = false;
  const EnclosureInfo upgraded = registry().current[1];

  state_.upgrade.target_index = 1;
  host_->Unplug(1);
  ASSERT_EQ(Discover(), 1U);
  EXPECT_EQ(registry().current[0], upgraded);
  EXPECT_EQ(state_.upgrade.target_index.load(), 0);

  state_.detection.running = true;
  device_->discovery().CountPhysicalDrives();
  device_->discovery().RunDiscovery(ui_);
  state_.upgrade.target_index = kNoUpgradeTarget;  // the upgrade ended meanwhile
  InstallNewList(device_->registry(), false);
  FollowUpgradeTarget(registry(), state_.upgrade.target_index);
  state_.detection.running = false;
  EXPECT_EQ(state_.upgrade.target_index.load(), kNoUpgradeTarget);
}

TEST_F(DiscoveryTest, ShuttingDownStopsThePassBetweenDrives) {
  scenario_.drives[0] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  state_.detection.running = true;
  device_->discovery().CountPhysicalDrives();
  state_.shutting_down = true;
  EXPECT_EQ(device_->discovery().DiscoverEnclosures(ui_), 0U);
  EXPECT_EQ(CommandsTo(recorder(), 0) + CommandsTo(recorder(), 1), 0U);
}

TEST_F(DiscoveryTest, VolumeTableNamesTheDiskOfEachVolumeAndStopsAtTwenty) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.volumes.push_back({"C", DriveType::kFixed, DiskExtent{1, 1048576, 5000000}, true});
  scenario_.volumes.push_back({"D", DriveType::kFixed, std::nullopt, true});  // two disks
  scenario_.volumes.push_back({"E", DriveType::kRemovable, DiskExtent{1, 0, 1}, false});
  for (char letter = 'F'; letter <= 'Z'; ++letter) {
    scenario_.volumes.push_back({std::string(1, letter), DriveType::kFixed, DiskExtent{1, 0, 1}});
  }
  Build();
  device_->discovery().CountLogicalDrives();
  device_->discovery().BuildVolumeTable(ui_);

  // The table is the pass's until its list is installed.
  EXPECT_TRUE(registry().volumes.empty());
  const std::vector<VolumeRecord>& volumes = registry().fresh_volumes;
  ASSERT_EQ(volumes.size(), 20U);
  EXPECT_EQ(volumes[0].volume, "C");
  EXPECT_EQ(volumes[0].drive_type, 3);
  EXPECT_TRUE(volumes[0].has_extent);
  EXPECT_EQ(volumes[0].disk_number, 1);
  EXPECT_EQ(volumes[0].starting_offset, 1048576U);
  EXPECT_FALSE(volumes[1].has_extent);
  EXPECT_EQ(volumes[2].drive_type, kVolumeUnopenable);
  ASSERT_EQ(ui_.messages.size(), 1U);
  EXPECT_EQ(ui_.messages[0], (MessageBoxRequest{"", "Drive Count Must less than 20."}));
}

TEST_F(DiscoveryTest, WorkerThreadMessagesWaitForTheWindowThread) {
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    scenario_.volumes.push_back({std::string(1, letter), DriveType::kFixed, DiskExtent{0, 0, 1}});
  }
  Build();
  DeferredUiSink deferred;
  std::thread detection([&] {
    device_->discovery().CountLogicalDrives();
    device_->discovery().RunDiscovery(deferred);
  });
  detection.join();
  EXPECT_THAT(ui_.messages, IsEmpty());
  deferred.ReplayInto(ui_);
  ASSERT_EQ(ui_.messages.size(), 1U);
  EXPECT_EQ(ui_.messages[0].text, "Drive Count Must less than 20.");
  EXPECT_TRUE(deferred.Empty());
}

}  // namespace
}  // namespace raid
