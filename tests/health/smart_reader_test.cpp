// SPDX-License-Identifier: GPL-2.0-or-later
// ReadSmart against simulated enclosures: which drives are asked on which port, what reaches
// the store, and how failing drive commands leave it.
#include "health/smart_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "health/word106.h"
#include "status/status_monitor.h"
#include "support/simulated_host_test.h"

namespace raid {
namespace {

using Fault = sim::FaultSpec::DriveCommandFault;
using Echo = std::array<std::uint8_t, 2>;
constexpr std::uint8_t kData = kSmartDataFeature;
constexpr std::uint8_t kThresholds = kSmartThresholdsFeature;
constexpr std::uint8_t kTemperature = 0xC2;  // in every default table, in the sector's part 2

class SmartReaderTest : public testing::SimulatedHostTest {
 protected:
  // A drive told apart by its temperature attribute's raw value and threshold.
  static sim::MemberSpec Member(std::uint8_t tag, std::uint16_t word106 = 0x6003) {
    sim::MemberSpec member;
    member.word106 = word106;
    member.smart_attributes = {{kTemperature, 100, 100, tag, tag}};
    return member;
  }
  void Build() {
    BuildHost();
    monitor_ = std::make_unique<StatusMonitor>(device_->commands(), clock_, state_,
                                               device_->registry(), ui_);
    device_->discovery().SetStatusFiller(monitor_.get());
    DiscoverAndInstall();
    state_.detection.initial = false;
    state_.polling.monitor_checked[0] = true;
    state_.polling.monitor_checked[1] = true;
    store_ = std::make_unique<SmartStore>(state_.polling.smart_thresholds_read);
    reader_ = std::make_unique<DriveSmartReader>(device_->commands(), state_, device_->registry(),
                                                 *monitor_, *store_);
    recorder().Clear();
  }
  SmartDriveRecord Stored(unsigned position, unsigned drive) {
    return store_->Snapshot(position, drive).value();
  }
  // The temperature attribute of a stored record; zero when it is not there.
  static SmartAttribute Temperature(const SmartDriveRecord& record) {
    for (std::size_t slot = 0; slot < kSmartSlots; ++slot) {
      const SmartAttribute a = AttributeAt(record.data, record.thresholds, slot);
      if (a.id == kTemperature) return a;
    }
    return {};
  }
  static std::uint8_t ThresholdOf(const SmartDriveRecord& record, std::uint8_t id) {
    for (std::size_t slot = 0; slot < kSmartSlots; ++slot) {
      if (record.thresholds[2 + slot * 12] == id) return record.thresholds[2 + slot * 12 + 1];
    }
    return 0;
  }
  // Drive commands sent to disk `drive`: opcode, first argument (the feature) and port.
  std::vector<std::array<std::uint8_t, 3>> DriveCommands(unsigned drive) {
    std::vector<std::array<std::uint8_t, 3>> commands;
    for (const sim::ReceivedPacket& p : recorder().Packets(drive)) {
      if (p.packet.opcode == kOpDriveAta || p.packet.opcode == kOpDriveControl)
        commands.push_back({p.packet.opcode, p.packet.p1, p.packet.p2});
    }
    return commands;
  }
  long Count(unsigned drive, std::array<std::uint8_t, 3> command) {
    const auto commands = DriveCommands(drive);
    return std::count(commands.begin(), commands.end(), command);
  }

  std::unique_ptr<StatusMonitor> monitor_;
  std::unique_ptr<SmartStore> store_;
  std::unique_ptr<DriveSmartReader> reader_;
};

TEST_F(SmartReaderTest, ReadsEveryDriveOfBothEnclosuresThroughItsOwnPort) {
  sim::EnclosureSpec straight;
  straight.members = {Member(0x11, 0x6003), Member(0x12, 0x4000)};
  sim::EnclosureSpec swapped;
  swapped.members = {Member(0x21, 0x6003), Member(0x22, 0x4000)};
  swapped.revision[3] &= ~0x10;  // HDD1 sits on the controller's second port
  scenario_.drives[1] = straight;
  scenario_.drives[3] = swapped;
  Build();
  ASSERT_TRUE(registry().current.at(1).port_swap);

  EXPECT_TRUE(reader_->Read(kThresholds).ran);
  EXPECT_TRUE(state_.polling.smart_thresholds_read);
  const SmartReadPass data = reader_->Read(kData);
  EXPECT_FALSE(data.AnyFailed());
  for (unsigned position = 0; position < 2; ++position) {
    for (unsigned drive = 0; drive < 2; ++drive) {
      const SmartDriveRecord record = Stored(position, drive);
      const unsigned tag = 0x11 + 0x10 * position + drive;
      EXPECT_EQ(Temperature(record).raw, tag) << position << drive;
      EXPECT_EQ(Temperature(record).threshold, tag) << position << drive;
      EXPECT_EQ(record.word106, drive == 0 ? 0x6003 : 0x4000) << position << drive;
    }
  }
  EXPECT_EQ(DriveCommands(3).front(), (std::array<std::uint8_t, 3>{kOpDriveAta, kThresholds, 1}));
  EXPECT_EQ(DriveCommands(1).front(), (std::array<std::uint8_t, 3>{kOpDriveAta, kThresholds, 0}));
  EXPECT_EQ(state_.target.selected_index.load(), 0);  // the window's selection never moved
}

TEST_F(SmartReaderTest, AnAbsentDriveIsZeroedMarkedFFFFAndAskedNothing) {
  scenario_.drives[1] = sim::EnclosureSpec{};
  Build();
  reader_->Read(kThresholds);
  reader_->Read(kData);
  ASSERT_GT(SmartRowCount(Stored(0, 1).data), 0U);

  host_->enclosure(1)->PullDrive(1);
  ASSERT_TRUE(monitor_->RefreshStatus());
  recorder().Clear();
  EXPECT_FALSE(reader_->Read(kData).AnyFailed());
  SmartDriveRecord hdd2 = Stored(0, 1);
  EXPECT_EQ(hdd2.data, SmartSector{});
  EXPECT_EQ(hdd2.word106, kWord106DriveAbsent);
  EXPECT_GT(SmartRowCount(hdd2.thresholds), 0U);  // only the sector being read is zeroed
  for (const auto& command : DriveCommands(1))
    EXPECT_EQ(command[2], 0);  // nothing for HDD2's port

  reader_->Read(kThresholds);
  hdd2 = Stored(0, 1);
  EXPECT_EQ(hdd2.thresholds, SmartSector{});
  EXPECT_TRUE(state_.polling.smart_thresholds_read);  // an absent drive is no failed read
  EXPECT_EQ(Stored(0, 0).word106, 0x6003);
}

// A drive swapped in without a new discovery has its own thresholds read before its data is
// judged; when they cannot be read, the old drive's are dropped and the countdown asks again.
TEST_F(SmartReaderTest, ASwappedInDriveIsJudgedByItsOwnThresholdsOnly) {
  sim::EnclosureSpec enclosure;
  enclosure.members = {Member(0x11), Member(0x12)};
  scenario_.drives[1] = enclosure;
  Build();
  reader_->Read(kThresholds);
  reader_->Read(kData);
  ASSERT_EQ(Temperature(Stored(0, 1)).threshold, 0x12);

  sim::MemberSpec newcomer = Member(0x34);
  newcomer.serial = "NEWCOMER0001";
  host_->enclosure(1)->PullDrive(1);
  host_->enclosure(1)->InsertDrive(1, newcomer, 0);
  ASSERT_TRUE(monitor_->RefreshStatus());
  recorder().Clear();
  EXPECT_FALSE(reader_->Read(kData).AnyFailed());
  EXPECT_EQ(Temperature(Stored(0, 1)).raw, 0x34);
  EXPECT_EQ(Temperature(Stored(0, 1)).threshold, 0x34);
  EXPECT_EQ(Count(1, {kOpDriveAta, kThresholds, 1}), 1);  // the newcomer's, once
  EXPECT_EQ(Count(1, {kOpDriveAta, kThresholds, 0}), 0);  // HDD1 kept its drive
  EXPECT_TRUE(state_.polling.smart_thresholds_read);

  // Once read, they are not read again with every data read.
  recorder().Clear();
  reader_->Read(kData);
  EXPECT_EQ(Count(1, {kOpDriveAta, kThresholds, 1}), 0);

  // The next drive's thresholds cannot be fetched: none are shown rather than the last drive's.
  sim::MemberSpec third = Member(0x56);
  third.serial = "THIRD0000001";
  host_->enclosure(1)->PullDrive(1);
  host_->enclosure(1)->InsertDrive(1, third, 0);
  ASSERT_TRUE(monitor_->RefreshStatus());
  host_->enclosure(1)->FailDriveCommand({kOpDriveAta, kThresholds, 1, std::nullopt, 4});
  reader_->Read(kData);
  EXPECT_EQ(Stored(0, 1).thresholds, SmartSector{});
  EXPECT_EQ(Temperature(Stored(0, 1)).raw, 0x56);
  EXPECT_FALSE(state_.polling.smart_thresholds_read);
}

struct IdentifyCase {
  const char* what;
  Fault fault;
  std::uint16_t word106;
};

TEST_F(SmartReaderTest, AnIdentifyThatCannotBeReadLeavesAFailureCode) {
  const std::vector<IdentifyCase> cases = {
      {"not delivered", {kOpDriveAta, kAtaIdentify, 0, std::nullopt, 1}, 0xFFF7},
      {"echoing the SMART feature", {kOpDriveAta, kAtaIdentify, 0, Echo{0xB1, 0xD0}, 1}, 0xB1D0},
      {"answering another command", {kOpDriveAta, kAtaIdentify, 0, Echo{0x17, 0x01}, 1}, 0x9701},
      {"echoing no command at all", {kOpDriveAta, kAtaIdentify, 0, Echo{0x00, 0x00}, 1}, 0x8000},
      {"part 2 never fetched", {kOpDriveControl, kAtaIdentify, 2, std::nullopt, 4}, 0xFFFE},
      {"part 2 echoing SMART", {kOpDriveControl, kAtaIdentify, 2, Echo{0xB2, 0xD0}, 4}, 0xB2D0},
      {"part 2 echoing nothing", {kOpDriveControl, kAtaIdentify, 2, Echo{0x00, 0x00}, 4}, 0x8000},
      {"part 2 on its fourth try", {kOpDriveControl, kAtaIdentify, 2, std::nullopt, 3}, 0x6003},
      {"part 1 never fetched", {kOpDriveControl, kAtaIdentify, 1, std::nullopt, 4}, 0x6003},
  };
  scenario_.drives[1] = sim::EnclosureSpec{};
  Build();
  for (const IdentifyCase& c : cases) {
    host_->enclosure(1)->FailDriveCommand(c.fault);
    EXPECT_FALSE(reader_->Read(kData).AnyFailed()) << c.what;
    const SmartDriveRecord hdd1 = Stored(0, 0);
    EXPECT_EQ(hdd1.word106, c.word106) << c.what;
    EXPECT_EQ(FourKSectorAnswer(hdd1.word106).answer, c.word106 == 0x6003 ? "Yes" : "Unknown")
        << c.what;
    EXPECT_GT(SmartRowCount(hdd1.data), 0U) << c.what;  // the attributes are read all the same
    EXPECT_EQ(Stored(0, 1).word106, 0x6003) << c.what;
  }
}

struct AttemptCase {
  const char* what;
  std::uint8_t feature;
  Fault fault;
  bool read;
  int attempts;  // of HDD1's whole step
};

TEST_F(SmartReaderTest, ADriveStepIsTriedFourTimesAndEachPartFourTimes) {
  const std::vector<AttemptCase> cases = {
      {"data on the fourth attempt", kData, {kOpDriveAta, kData, 0, std::nullopt, 3}, true, 4},
      {"data never", kData, {kOpDriveAta, kData, 0, std::nullopt, 4}, false, 4},
      {"a data part on its fourth try",
       kData,
       {kOpDriveControl, kData, 3, std::nullopt, 3},
       true,
       1},
      {"thresholds on the fourth attempt",
       kThresholds,
       {kOpDriveAta, kThresholds, 0, std::nullopt, 3},
       true,
       4},
      {"thresholds never", kThresholds, {kOpDriveAta, kThresholds, 0, std::nullopt, 4}, false, 4},
  };
  for (const AttemptCase& c : cases) {
    sim::EnclosureSpec config;
    config.members = {Member(0x42), Member(0x43)};
    scenario_.drives[1] = config;
    Build();
    host_->enclosure(1)->FailDriveCommand(c.fault);
    const SmartReadPass pass = reader_->Read(c.feature);
    EXPECT_EQ(pass.failed[0][0], !c.read) << c.what;
    EXPECT_FALSE(pass.failed[0][1]) << c.what;
    const SmartDriveRecord hdd1 = Stored(0, 0);
    const std::uint64_t tag =
        c.feature == kData ? Temperature(hdd1).raw : ThresholdOf(hdd1, kTemperature);
    EXPECT_EQ(tag, c.read ? 0x42U : 0U) << c.what;
    EXPECT_EQ(Count(1, {kOpDriveAta, c.feature, 0}), c.attempts) << c.what;
    EXPECT_EQ(Count(1, {kOpDriveAta, kAtaIdentify, 0}), c.feature == kData ? c.attempts : 0)
        << c.what;
    if (c.feature == kThresholds) {
      EXPECT_EQ(state_.polling.smart_thresholds_read.load(), c.read) << c.what;
    }
  }
}

TEST_F(SmartReaderTest, APartThatFailsFourTimesKeepsItsOldBytesAndTheThresholdsUnread) {
  scenario_.drives[1] = sim::EnclosureSpec{};
  Build();
  reader_->Read(kThresholds);
  ASSERT_TRUE(state_.polling.smart_thresholds_read);
  ASSERT_EQ(ThresholdOf(Stored(0, 0), 0x01), 51);  // slot 0: part 1

  // New thresholds in part 1 and in part 2; part 1 of HDD1 cannot be fetched.
  host_->enclosure(1)->SetSmartAttribute(0, {0x01, 200, 200, 0, 99});
  host_->enclosure(1)->SetSmartAttribute(0, {kTemperature, 109, 98, 41, 77});
  host_->enclosure(1)->FailDriveCommand({kOpDriveControl, kThresholds, 1, std::nullopt, 4});
  const SmartReadPass pass = reader_->Read(kThresholds);
  EXPECT_TRUE(pass.failed[0][0]);
  EXPECT_FALSE(state_.polling.smart_thresholds_read);
  EXPECT_EQ(ThresholdOf(Stored(0, 0), 0x01), 51);
  EXPECT_EQ(ThresholdOf(Stored(0, 0), kTemperature), 77);

  // The countdown's next threshold read repeats it.
  reader_->Read(kThresholds);
  EXPECT_TRUE(state_.polling.smart_thresholds_read);
  EXPECT_EQ(ThresholdOf(Stored(0, 0), 0x01), 99);
}

TEST_F(SmartReaderTest, ReadsNothingWhileAnUpgradeTargetIsSelectedOrNoBoxIsChecked) {
  scenario_.drives[1] = sim::EnclosureSpec{};
  Build();
  state_.upgrade.target_index = 0;
  EXPECT_FALSE(reader_->Read(kData).ran);
  state_.upgrade.target_index = kNoUpgradeTarget;
  state_.polling.monitor_checked[0] = false;
  state_.polling.monitor_checked[1] = false;
  EXPECT_FALSE(reader_->Read(kThresholds).ran);
  EXPECT_TRUE(DriveCommands(1).empty());
  EXPECT_FALSE(state_.polling.smart_thresholds_read);
  EXPECT_EQ(Stored(0, 0), SmartDriveRecord{});

  state_.polling.monitor_checked[1] = true;  // the other box will do
  EXPECT_TRUE(reader_->Read(kData).ran);
  EXPECT_GT(SmartRowCount(Stored(0, 0).data), 0U);
}

TEST_F(SmartReaderTest, ReadsNothingWithoutAnEnclosure) {
  scenario_.drives[0] = sim::PlainDiskSpec{};
  Build();
  EXPECT_FALSE(reader_->Read(kData).ran);
  EXPECT_TRUE(recorder().Packets(0).empty());
}

TEST_F(SmartReaderTest, AThirdEnclosureIsReadOnlyWhereEveryEnclosureIsWatched) {
  sim::EnclosureSpec third;
  third.members[0] = Member(41);
  scenario_.drives[1] = sim::EnclosureSpec{};
  scenario_.drives[2] = sim::EnclosureSpec{};
  scenario_.drives[4] = third;
  Build();
  ASSERT_EQ(registry().current.size(), 3U);
  reader_->Read(kThresholds);
  reader_->Read(kData);
  EXPECT_FALSE(DriveCommands(2).empty());
  EXPECT_TRUE(DriveCommands(4).empty());  // the window watches two

  // raidctl's reader: one enclosure per step, the silent (unchecked) ones left out.
  state_.polling.monitor_checked[2] = true;
  reader_ = std::make_unique<DriveSmartReader>(device_->commands(), state_, device_->registry(),
                                               *monitor_, *store_, kEveryEnclosureWatch);
  recorder().Clear();
  EXPECT_FALSE(reader_->ReadSmart(kData));
  EXPECT_FALSE(DriveCommands(1).empty());
  EXPECT_TRUE(DriveCommands(2).empty());
  EXPECT_FALSE(reader_->ReadSmart(kData));
  EXPECT_TRUE(reader_->ReadSmart(kData));
  EXPECT_EQ(Temperature(Stored(2, 0)).raw, 41U);
  state_.polling.monitor_checked[1] = false;
  recorder().Clear();
  EXPECT_TRUE(reader_->Read(kData).ran);
  EXPECT_TRUE(DriveCommands(2).empty());
  EXPECT_FALSE(DriveCommands(4).empty());
}

TEST_F(SmartReaderTest, TellsTheWindowAfterADataReadWhileTheSmartPageShows) {
  scenario_.drives[1] = sim::EnclosureSpec{};
  Build();
  int calls = 0;
  reader_->SetAfterDataRead([&] { ++calls; });
  state_.polling.smart_readings_shown = true;
  reader_->Read(kThresholds);
  EXPECT_EQ(calls, 0);
  reader_->Read(kData);
  EXPECT_EQ(calls, 1);
  state_.polling.smart_readings_shown = false;
  reader_->Read(kData);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace raid
