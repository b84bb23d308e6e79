// SPDX-License-Identifier: GPL-2.0-or-later
// The simulated host's drives and volumes, its timeline, and what the recorder catches.
#include <gtest/gtest.h>

#include <thread>

#include "sim_host.h"
#include "wire_client.h"

namespace raid::sim {
namespace {

using testing::Block;
using testing::ReadBlock;

Scenario SmallHost() {
  Scenario scenario;
  scenario.drives[0] = PlainDiskSpec{};
  scenario.drives[1] = EnclosureSpec{};
  DriveSpec locked = PlainDiskSpec{};
  locked.openable = false;
  scenario.drives[3] = locked;
  scenario.volumes = {
      {"C", DriveType::kFixed, DiskExtent{0, 1048576, 500000000}, true},
      {"E", DriveType::kFixed, DiskExtent{1, 32768, 900000000}, true},
      {"F", DriveType::kFixed, std::nullopt, true},
      {"G", DriveType::kCdRom, std::nullopt, false},
  };
  return scenario;
}

TEST(Recorder, InterleavedExchangesAreAViolationSequentialOnesAreNot) {
  VirtualClock clock;
  SimHost host(SmallHost(), clock);
  Block block{};
  {
    auto a = host.OpenPhysicalDrive(0);
    ReadBlock(*a, 1, block);
  }
  {
    auto b = host.OpenPhysicalDrive(1);
    ReadBlock(*b, 1, block);
  }
  EXPECT_TRUE(host.recorder().Violations().empty());

  auto a = host.OpenPhysicalDrive(0);
  auto b = host.OpenPhysicalDrive(1);  // opening alone is no exchange
  ReadBlock(*a, 1, block);
  EXPECT_TRUE(host.recorder().Violations().empty());
  ReadBlock(*b, 1, block);
  ReadBlock(*b, 2, block);
  const auto violations = host.recorder().ViolationTexts();
  ASSERT_EQ(violations.size(), 1u);
  EXPECT_NE(violations[0].find("interleaving"), std::string::npos) << violations[0];
}

TEST(Recorder, OnlyOneBlockReadTenAndInquiryAreAllowed) {
  VirtualClock clock;
  SimHost host(SmallHost(), clock);
  auto disk = host.OpenPhysicalDrive(1);
  std::array<std::uint8_t, 1024> buffer{};

  ScsiDataIn write;
  write.cdb = {0x2A, 0, 0, 0, 0, 1, 0, 0, 1, 0};  // WRITE(10)
  write.data = buffer;
  EXPECT_FALSE(testing::Good(disk->ExecuteDataIn(write)));

  // served, but noted
  EXPECT_TRUE(testing::Good(disk->ExecuteDataIn(testing::Read10Cdb(4, 2, buffer))));
  // would overrun
  EXPECT_FALSE(testing::Good(disk->ExecuteDataIn(testing::Read10Cdb(4, 3, buffer))));

  const auto texts = host.recorder().ViolationTexts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_NE(texts[0].find("0x2A"), std::string::npos) << texts[0];
  EXPECT_NE(texts[1].find("2 blocks"), std::string::npos) << texts[1];
  EXPECT_NE(texts[3].find("buffer"), std::string::npos) << texts[3];
}

TEST(Recorder, RecordsOpensReadsAndClosesInOrder) {
  VirtualClock clock;
  SimHost host(SmallHost(), clock);
  clock.Advance(1234);
  Block block{};
  {
    auto disk = host.OpenPhysicalDrive(1);
    ReadBlock(*disk, 0x43, block);
  }
  EXPECT_EQ(host.OpenPhysicalDrive(7), nullptr);
  const auto calls = host.recorder().Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].kind, CallKind::kOpen);
  EXPECT_EQ(calls[1].kind, CallKind::kRead);
  EXPECT_EQ(calls[1].lba, 0x43u);
  EXPECT_EQ(calls[1].blocks, 1u);
  EXPECT_EQ(calls[1].handle, calls[0].handle);
  EXPECT_EQ(calls[1].clock_ms, 1234u);
  EXPECT_EQ(calls[2].kind, CallKind::kClose);
  EXPECT_EQ(calls[3].kind, CallKind::kOpenFailed);
  EXPECT_EQ(calls[3].target.drive, 7u);
  EXPECT_LT(calls[0].sequence, calls[3].sequence);
  EXPECT_EQ(host.recorder().ReadLbas(1), std::vector<std::uint32_t>{0x43});
}

TEST(Recorder, StaysConsistentUnderConcurrentUseAndCanBeBounded) {
  VirtualClock clock;
  SimHost host(SmallHost(), clock);
  auto worker = [&](unsigned drive) {
    Block block{};
    for (int i = 0; i < 300; ++i) {
      auto disk = host.OpenPhysicalDrive(drive);
      ReadBlock(*disk, static_cast<std::uint32_t>(i), block);
    }
  };
  std::thread a(worker, 0);
  std::thread b(worker, 1);
  a.join();
  b.join();
  EXPECT_EQ(host.recorder().ReadCount(0), 300u);
  EXPECT_EQ(host.recorder().ReadCount(1), 300u);
  const auto calls = host.recorder().Calls();
  for (std::size_t i = 1; i < calls.size(); ++i) {
    ASSERT_LT(calls[i - 1].sequence, calls[i].sequence);
  }

  host.recorder().SetRetention(100);
  EXPECT_LE(host.recorder().Calls().size(), 150u);
  EXPECT_EQ(host.recorder().Calls().back().sequence, calls.back().sequence);
}

TEST(SimulatedHost, DrivesVolumesAndAccess) {
  VirtualClock clock;
  SimHost host(SmallHost(), clock);
  OpenFailure why = OpenFailure::kNone;
  EXPECT_EQ(host.OpenPhysicalDrive(3, &why), nullptr);
  EXPECT_EQ(why, OpenFailure::kAccessDenied);
  EXPECT_EQ(host.OpenPhysicalDrive(2, &why), nullptr);
  EXPECT_EQ(why, OpenFailure::kNotFound);
  EXPECT_EQ(host.PhysicalDrivePath(2), "sim:PhysicalDrive2");

  EXPECT_EQ(host.LogicalVolumes(), (std::vector<std::string>{"C", "E", "F", "G"}));
  EXPECT_EQ(host.VolumeDriveType("G"), DriveType::kCdRom);
  auto e = host.OpenVolume("E");
  ASSERT_NE(e, nullptr);
  const auto extent = e->VolumeDiskExtent();
  ASSERT_TRUE(extent);
  EXPECT_EQ(extent->disk_number, 1u);
  EXPECT_EQ(extent->starting_offset, 32768u);
  Block block{};
  EXPECT_TRUE(ReadBlock(*e, 0, block));
  e.reset();
  EXPECT_FALSE(host.OpenVolume("F")->VolumeDiskExtent());  // spans several disks
  EXPECT_EQ(host.OpenVolume("G", &why), nullptr);
  EXPECT_EQ(why, OpenFailure::kAccessDenied);

  // Unplugging the enclosure takes its volume along.
  host.Unplug(1);
  EXPECT_EQ(host.LogicalVolumes(), (std::vector<std::string>{"C", "F", "G"}));
  EXPECT_EQ(host.OpenPhysicalDrive(1, &why), nullptr);
  EXPECT_EQ(why, OpenFailure::kNotFound);
  host.PlugBack(1);
  EXPECT_NE(host.OpenPhysicalDrive(1), nullptr);
}

TEST(SimulatedHost, AnOpenHandleDiesWithItsDevice) {
  VirtualClock clock;
  SimHost host(SmallHost(), clock);
  auto disk = host.OpenPhysicalDrive(1);
  Block block{};
  ASSERT_TRUE(ReadBlock(*disk, 5, block));
  host.Unplug(1);
  EXPECT_FALSE(ReadBlock(*disk, 5, block));
  host.PlugBack(1);
  EXPECT_FALSE(ReadBlock(*disk, 5, block));  // a new arrival needs a new handle
}

TEST(SimulatedHost, AMovedDiskKeepsItsIdentityStateFaultsAndVolumes) {
  VirtualClock clock;
  SimHost host(SmallHost(), clock);
  auto before = host.OpenPhysicalDrive(1);
  const DiskIdentity identity = before->Identity();
  host.enclosure(1)->PullDrive(0);
  host.device(1)->FailReadsAt(77, 1);

  ASSERT_TRUE(host.Move(1, 4));
  OpenFailure why = OpenFailure::kNone;
  EXPECT_EQ(host.OpenPhysicalDrive(1, &why), nullptr);
  EXPECT_EQ(why, OpenFailure::kNotFound);
  auto after = host.OpenPhysicalDrive(4);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->Identity(), identity);
  EXPECT_EQ(host.enclosure(4)->MemberPresent(0), false);
  Block block{};
  EXPECT_FALSE(ReadBlock(*after, 77, block));  // the fault came along
  EXPECT_TRUE(ReadBlock(*after, 77, block));
  EXPECT_FALSE(ReadBlock(*before, 78, block));  // the old handle no longer reaches it
  after.reset();
  before.reset();

  EXPECT_EQ(host.OpenVolume("E")->VolumeDiskExtent()->disk_number, 4u);
  EXPECT_EQ(host.LogicalVolumes(), (std::vector<std::string>{"C", "E", "F", "G"}));

  // Only a present disk moves, and only to a free number.
  EXPECT_FALSE(host.Move(1, 5));
  EXPECT_FALSE(host.Move(4, 0));
  EXPECT_FALSE(host.Move(4, 4));
  // A disk plugged in at the old number later is a new attach.
  host.Plug(1, PlainDiskSpec{});
  EXPECT_NE(host.OpenPhysicalDrive(1)->Identity(), identity);
}

TEST(SimulatedHost, HandlesOpenedOnTheNewNumberBeforeAMoveDoNotReachTheNewcomer) {
  VirtualClock clock;
  SimHost host(SmallHost(), clock);
  host.Plug(6, PlainDiskSpec{});
  auto stale = host.OpenPhysicalDrive(6);
  host.Unplug(6);
  ASSERT_TRUE(host.Move(0, 6));
  Block block{};
  EXPECT_FALSE(ReadBlock(*stale, 1, block));
  EXPECT_TRUE(ReadBlock(*host.OpenPhysicalDrive(6), 1, block));
}

TEST(SimulatedHost, TimelineEventsApplyWhenTheClockPassesThem) {
  Scenario scenario = SmallHost();
  scenario.timeline = {
      {30000, 1, action::PullMember{1}},
      {60000, 1, action::InsertMember{1, std::nullopt, kPortNewlyInserted}},
      {70000, 1, action::StartRebuild{1, 10000}},
      {90000, 0, action::Unplug{}},
  };
  VirtualClock clock;
  clock.Advance(5000);  // the timeline counts from the host's creation
  SimHost host(scenario, clock);
  SimEnclosure& enclosure = *host.enclosure(1);

  clock.Advance(29999);
  host.ApplyDueEvents();
  EXPECT_TRUE(enclosure.MemberPresent(1));
  clock.Advance(1);
  host.ApplyDueEvents();
  EXPECT_FALSE(enclosure.MemberPresent(1));
  EXPECT_EQ(enclosure.PortState(1), kPortAbsentDefault);

  clock.Advance(30000);
  EXPECT_EQ(host.LogicalVolumes().size(), 4u);  // any call applies due events
  EXPECT_EQ(enclosure.PortState(1), kPortNewlyInserted);
  clock.Advance(15000);
  host.ApplyDueEvents();
  EXPECT_EQ(enclosure.PortState(1), kPortRebuildTarget);
  clock.Advance(5000);
  EXPECT_EQ(enclosure.PortState(1), kPortInArray);
  EXPECT_TRUE(host.IsPresent(0));
  clock.Advance(10000);
  EXPECT_FALSE(host.IsPresent(0));
}

}  // namespace
}  // namespace raid::sim
