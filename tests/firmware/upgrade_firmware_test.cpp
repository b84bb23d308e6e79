// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware upgrade sequence against the simulated controller's SPI flash.
#include "firmware/upgrade_firmware.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "status/status_monitor.h"
#include "support/throwing_disk_system.h"
#include "upgrade_test_fixture.h"

namespace raid {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using ::testing::Pair;

constexpr unsigned kRaidDrive = 1;
constexpr unsigned kMultiplierDrive = 3;

const MessageBoxRequest kCompleted{"Firmware Upgrade Message",
                                   "Firmware Upgrade 3/3 completed!\n"
                                   "\nPlease power off this device or the system,"
                                   "\nand power on it to enable the new firmware!",
                                   MessageIcon::kExclamation};

MessageBoxRequest Failure(const std::string& text) {
  return {"Message", text, MessageIcon::kNone};
}

std::uint32_t AddressOf(const sim::ReceivedPacket& p) {
  return ((std::uint32_t{p.packet.p2} << 8) | p.packet.p3) * 128;
}

class UpgradeFirmwareTest : public testing::UpgradeTest {
 protected:
  UpgradeFirmwareTest() {
    scenario_.drives[kRaidDrive] = sim::DriveSpec(sim::EnclosureSpec{});
    scenario_.drives[kMultiplierDrive] = sim::DriveSpec(sim::EnclosureSpec::PortMultiplier());
    DiscoverHost();
  }

  std::vector<std::string> UpgradePanelTexts() const {
    std::vector<std::string> texts;
    for (const auto& [panel, text] : ui_.panel_history)
      if (panel == 4) texts.push_back(text);
    return texts;
  }
};

TEST_F(UpgradeFirmwareTest, FortyKilobyteImageIsErasedProgrammedAndVerifiedUnderMaintenance) {
  const FirmwareImage image = NewImage(kRaidDrive, 40960);
  views_.on_caption = [&](const std::string&) {
    EXPECT_TRUE(state_.upgrade.in_progress.load());
    EXPECT_EQ(state_.upgrade.target_index.load(), 0);
    EXPECT_FALSE(views_.monitor_boxes.back());
    EXPECT_EQ(keep_awake_.held, 1);
  };
  const UpgradeResult result = Upgrade(image, 0);

  EXPECT_TRUE(result.Succeeded());
  const std::vector<sim::ReceivedPacket> erases = PacketsOf(kRaidDrive, kOpEraseFlash);
  ASSERT_EQ(erases.size(), 24U);  // 98304 bytes
  EXPECT_EQ(AddressOf(erases.back()), 0x17000U);
  EXPECT_EQ(PacketsOf(kRaidDrive, kOpWriteFlash).size(), 320U);
  EXPECT_EQ(PacketsOf(kRaidDrive, kOpReadFlash).size(), 320U);
  EXPECT_TRUE(recorder().Packets(kMultiplierDrive).empty());

  std::vector<std::uint8_t> expected = image.bytes;
  expected.resize(98304, 0xFF);  // the factory image beyond the new one is erased
  EXPECT_EQ(Flash(kRaidDrive, 98304), expected);

  EXPECT_EQ(views_.maximum, 810U);
  EXPECT_EQ(views_.label, "Firmware Update...");
  EXPECT_THAT(views_.captions, ElementsAre("Process 1 / 3", "Process 2 / 3", "Process 3 / 3"));
  // After erase, program and verify; then the finished upgrade fills the bar.
  EXPECT_THAT(views_.positions, ElementsAre(24U, 344U, 664U, 810U));
  EXPECT_THAT(UpgradePanelTexts(),
              ElementsAre("SPI = 03, BIN = 03", "SPI Erase OK", "SPI Program OK", "SPI Verify OK"));
  EXPECT_THAT(ui_.messages, ElementsAre(kCompleted));
  EXPECT_EQ(result.panel_text, "SPI Verify OK");
  EXPECT_TRUE(result.kept_awake);
  EXPECT_EQ(keep_awake_.taken, 1);
  ExpectMaintenanceEnded();
}

TEST_F(UpgradeFirmwareTest, SixtyFourKilobyteImageErasesItsSpanOnlyOnce) {
  const UpgradeResult result = Upgrade(NewImage(kRaidDrive, 65536), 0);
  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(PacketsOf(kRaidDrive, kOpEraseFlash).size(), 18U);  // 73728 bytes, not doubled
  EXPECT_EQ(views_.maximum, 1152U + 18U + 30U);
}

TEST_F(UpgradeFirmwareTest, PartialLastBlockIsPaddedWithTheErasedValueAndNotCompared) {
  const FirmwareImage image = NewImage(kRaidDrive, 40960 + 77);
  const UpgradeResult result = Upgrade(image, 0);
  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(Flash(kRaidDrive, image.size), image.bytes);
  const std::vector<sim::ReceivedPacket> writes = PacketsOf(kRaidDrive, kOpWriteFlash);
  ASSERT_EQ(writes.size(), 321U);
  EXPECT_EQ(writes.back().packet.payload[76], image.bytes.back());
  EXPECT_EQ(writes.back().packet.payload[77], 0xFF);
  EXPECT_EQ(PacketsOf(kRaidDrive, kOpReadFlash).size(), 321U);
}

TEST_F(UpgradeFirmwareTest, VerifyBlockReadTwiceLeavesItsAttemptTextUntilVerified) {
  views_.on_caption = [&](const std::string& caption) {
    if (caption == "Process 3 / 3") host_->enclosure(kRaidDrive)->FailFlashBlock(0x80, 2);
  };
  const UpgradeResult result = Upgrade(NewImage(kRaidDrive, 4096), 0);
  EXPECT_TRUE(result.Succeeded());
  const std::vector<std::string> texts = UpgradePanelTexts();
  ASSERT_GE(texts.size(), 3U);
  EXPECT_EQ(texts[texts.size() - 2], "ReadSPI fail 2 times, Address = 0080");
  EXPECT_EQ(texts.back(), "SPI Verify OK");
}

// A block that fails nine times, at the start of each step.
struct NineFailures {
  const char* at_caption;
  std::uint32_t address;
  const char* last_attempt_text;
  const char* box_text;
  UpgradeStep step;
};

class UpgradeStepFailureTest : public UpgradeFirmwareTest,
                               public ::testing::WithParamInterface<NineFailures> {};

TEST_P(UpgradeStepFailureTest, EndsWithTheFailureBoxNeverTheSuccessBox) {
  const NineFailures& failure = GetParam();
  views_.on_caption = [&](const std::string& caption) {
    if (caption == failure.at_caption) {
      host_->enclosure(kRaidDrive)->FailFlashBlock(failure.address, 9);
    }
  };
  const UpgradeResult result = Upgrade(NewImage(kRaidDrive, 8192), 0);
  EXPECT_EQ(result.outcome, UpgradeOutcome::kFailed);
  EXPECT_EQ(result.failed_step, failure.step);
  EXPECT_THAT(UpgradePanelTexts(), Contains(failure.last_attempt_text));
  EXPECT_EQ(result.panel_text, failure.box_text);
  EXPECT_EQ(ui_.messages.back(), Failure(failure.box_text));
  EXPECT_THAT(ui_.messages, Not(Contains(kCompleted)));
  ExpectMaintenanceEnded();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, UpgradeStepFailureTest,
    ::testing::Values(NineFailures{"Process 1 / 3", 0x1000, "EraseSPI fail, Address = 1000",
                                   "SPI Erase Fail.", UpgradeStep::kErase},
                      NineFailures{"Process 2 / 3", 0x80, "WriteSPI fail, Address = 0080",
                                   "SPI Program Fail.", UpgradeStep::kProgram},
                      NineFailures{"Process 3 / 3", 0x80, "ReadSPI fail, Address = 0080",
                                   "ReadSPI fail, Address = 0080", UpgradeStep::kVerifyRead}));

TEST_F(UpgradeFirmwareTest, FlashWriteThatClaimsSuccessAndWritesNothingFailsTheVerify) {
  host_->enclosure(kRaidDrive)->SetLyingFlashWrites(true);
  const FirmwareImage image = NewImage(kRaidDrive, 4096);
  const UpgradeResult result = Upgrade(image, 0);
  EXPECT_EQ(result.failed_step, UpgradeStep::kVerifyCompare);
  EXPECT_EQ(ui_.messages.back(), Failure("SPI Verify fail !!!"));
  EXPECT_NE(Flash(kRaidDrive, image.size), image.bytes);
}

TEST_F(UpgradeFirmwareTest, VerifyOfAnEnclosureThatWasUnpluggedIsAVerifyFailure) {
  views_.on_caption = [&](const std::string& caption) {
    if (caption == "Process 3 / 3") host_->Unplug(kRaidDrive);
  };
  const UpgradeResult result = Upgrade(NewImage(kRaidDrive, 4096), 0);
  EXPECT_EQ(result.failed_step, UpgradeStep::kVerifyRead);
  EXPECT_THAT(ui_.messages,
              ElementsAre(MessageBoxRequest{"", "Invalid Drive"}, Failure("SPI Verify fail !!!")));
  ExpectMaintenanceEnded();
}

// A discovery pass on the detection thread sets DetectionRunning; the read-back must still read
// the enclosure under upgrade, not the drive being probed.
TEST_F(UpgradeFirmwareTest, VerifyReadsTheEnclosureUnderUpgradeWhileAPassProbesAnother) {
  host_->enclosure(kRaidDrive)->SetLyingFlashWrites(true);
  const FirmwareImage image = NewImage(kRaidDrive, 4096);
  host_->enclosure(kMultiplierDrive)->StoreFlash(0, image.bytes);
  views_.on_caption = [&](const std::string& caption) {
    if (caption != "Process 3 / 3") return;
    state_.detection.running = true;
    device_->registry().probe = {kMultiplierDrive, IdentifiedDrive(kMultiplierDrive).identity};
  };
  const UpgradeResult result = Upgrade(image, 0);
  EXPECT_EQ(result.failed_step, UpgradeStep::kVerifyCompare);
  EXPECT_TRUE(recorder().Packets(kMultiplierDrive).empty());
}

// A discovery pass between two steps, as the detection thread may run one: a newcomer at a
// lower drive number must not take the place that UpgradeTargetIndex names.
TEST_F(UpgradeFirmwareTest, EnclosurePluggedAtALowerNumberDuringTheUpgradeLeavesTheTargetInPlace) {
  const FirmwareImage image = NewImage(kRaidDrive, 4096);
  views_.on_caption = [&](const std::string& caption) {
    if (caption != "Process 2 / 3") return;
    host_->Plug(0, sim::DriveSpec(sim::EnclosureSpec{}));
    ASSERT_EQ(DiscoverAndInstall(), 3U);
    EXPECT_EQ(registry().current[0].device_code, 0x40U | kRaidDrive);
    EXPECT_EQ(registry().current[1].device_code, 0x40U);
  };
  const UpgradeResult result = Upgrade(image, 0);
  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(Flash(kRaidDrive, image.size), image.bytes);
  EXPECT_TRUE(PacketsOf(0, kOpWriteFlash).empty());
  EXPECT_EQ(Flash(0, 40960), host_->enclosure(0)->FactoryImage());
  // The enclosure under upgrade saw nothing but its flash commands.
  for (const sim::ReceivedPacket& p : recorder().Packets(kRaidDrive))
    EXPECT_THAT(p.packet.opcode, ::testing::AnyOf(kOpEraseFlash, kOpWriteFlash, kOpReadFlash));
}

// Unplugged, the enclosure under upgrade leaves the list: the pass probes the drives after it,
// and nothing is flashed on whichever enclosure now stands at its position.
TEST_F(UpgradeFirmwareTest, EnclosureUnpluggedDuringTheUpgradeIsDroppedAndNothingTakesItsPlace) {
  constexpr unsigned kNewcomer = 5;
  views_.on_caption = [&](const std::string& caption) {
    if (caption != "Process 2 / 3") return;
    host_->Unplug(kRaidDrive);
    host_->Plug(kNewcomer, sim::DriveSpec(sim::EnclosureSpec{}));
    ASSERT_EQ(DiscoverAndInstall(), 2U);
    EXPECT_EQ(registry().current[0].device_code, 0x40U | kMultiplierDrive);
    EXPECT_EQ(registry().current[1].device_code, 0x40U | kNewcomer);
    EXPECT_EQ(state_.upgrade.target_index.load(), kUpgradeTargetGone);
  };
  const UpgradeResult result = Upgrade(NewImage(kRaidDrive, 4096), 0);
  EXPECT_EQ(result.failed_step, UpgradeStep::kProgram);
  EXPECT_EQ(ui_.messages.back(), Failure("SPI Program Fail."));
  for (unsigned drive : {kMultiplierDrive, kNewcomer}) {
    EXPECT_TRUE(PacketsOf(drive, kOpEraseFlash).empty());
    EXPECT_TRUE(PacketsOf(drive, kOpWriteFlash).empty());
  }
  ExpectMaintenanceEnded();
}

TEST_F(UpgradeFirmwareTest, TypeByteMismatchStopsARaidBridgeButNotAPortMultiplier) {
  FirmwareImage raid_image = NewImage(kRaidDrive, 4096);
  raid_image.bytes[149] = 0x05;
  const UpgradeResult refused = Upgrade(raid_image, 0);
  EXPECT_EQ(refused.outcome, UpgradeOutcome::kRefused);
  EXPECT_EQ(refused.panel_text, "SPI = 03, BIN = 05");
  EXPECT_THAT(ui_.messages,
              ElementsAre(MessageBoxRequest{
                  "Message", "Incorrect Firmware Type! SPI = 03, BIN = 05", MessageIcon::kNone}));
  EXPECT_EQ(recorder().ReadCount(kRaidDrive), 0U);
  ExpectMaintenanceEnded();

  ui_.messages.clear();
  FirmwareImage multiplier_image = NewImage(kMultiplierDrive, 4096);
  multiplier_image.bytes[149] = 0x05;
  EXPECT_TRUE(Upgrade(multiplier_image, 1).Succeeded());
  EXPECT_THAT(ui_.panel_history, Contains(Pair(4, "SPI = 01, BIN = 05")));
  EXPECT_THAT(ui_.messages, ElementsAre(kCompleted));
}

// The image was checked against the enclosure chosen when it was loaded; the enclosure about to
// be rewritten is checked again.
TEST_F(UpgradeFirmwareTest, ImageForAnotherProductIsRefusedBeforeAnythingIsSent) {
  sim::EnclosureSpec other;
  other.revision = {0x16, 0x05, 0x20, 0x13, 0x31, 0x00, 0x00, 0x00};
  scenario_.drives[kMultiplierDrive] = sim::DriveSpec(other);
  DiscoverHost();
  const UpgradeResult result = Upgrade(NewImage(kRaidDrive, 4096), 1);
  EXPECT_EQ(result.outcome, UpgradeOutcome::kRefused);
  EXPECT_THAT(ui_.messages, ElementsAre(MessageBoxRequest{
                                "Error", "The firmware is not for this product.\nPlease check it.",
                                MessageIcon::kError}));
  EXPECT_EQ(recorder().ReadCount(kMultiplierDrive), 0U);
  ExpectMaintenanceEnded();
}

TEST_F(UpgradeFirmwareTest, RefusalsSendNothingTakeNoHoldAndEndMaintenance) {
  FirmwareImage whole_flash = NewImage(kRaidDrive, 4096);
  whole_flash.bytes.resize(kFlashSize, 0xFF);
  whole_flash.size = kFlashSize;
  const struct {
    FirmwareImage image;
    unsigned device;
    MessageBoxRequest box;
  } cases[] = {
      {FirmwareImage{}, 0, {"Message", "Please Load Firmware File First ", MessageIcon::kNone}},
      {whole_flash,
       0,
       {"Error", "The firmware file is too large for the flash.\nPlease check it.",
        MessageIcon::kError}},
      {NewImage(kRaidDrive, 4096), 2, {"Message", "No Upgrade Mode !", MessageIcon::kNone}},
      {NewImage(kRaidDrive, 4096), 65536, {"Message", "No Upgrade Mode !", MessageIcon::kNone}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box.text);
    ui_.messages.clear();
    const UpgradeResult result = Upgrade(c.image, c.device);
    EXPECT_EQ(result.outcome, UpgradeOutcome::kRefused);
    EXPECT_THAT(ui_.messages, ElementsAre(c.box));
    ExpectMaintenanceEnded();
  }
  EXPECT_EQ(ui_.panels[4], "No Upgrade Mode!!!");
  EXPECT_EQ(recorder().ReadCount(kRaidDrive) + recorder().ReadCount(kMultiplierDrive), 0U);
  EXPECT_EQ(keep_awake_.taken, 0);
}

TEST_F(UpgradeFirmwareTest, PressingUpgradeAgainDuringTheSequenceDoesNothing) {
  const FirmwareImage image = NewImage(kRaidDrive, 4096);
  std::optional<UpgradeResult> second;
  clock_.SetMessageHook([&] {
    if (!second) second = Upgrade(image, 1);
  });
  const UpgradeResult first = Upgrade(image, 0);
  clock_.SetMessageHook(nullptr);
  EXPECT_TRUE(first.Succeeded());
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->outcome, UpgradeOutcome::kIgnored);
  EXPECT_THAT(ui_.messages, ElementsAre(kCompleted));
  EXPECT_THAT(views_.monitor_boxes, ElementsAre(false, true));
  EXPECT_TRUE(recorder().Packets(kMultiplierDrive).empty());
}

TEST_F(UpgradeFirmwareTest, UpgradeGoesOnWhenTheMachineCannotBeKeptAwake) {
  keep_awake_.refusal = "the login manager refused the inhibitor lock";
  const UpgradeResult result = Upgrade(NewImage(kRaidDrive, 4096), 0);
  EXPECT_TRUE(result.Succeeded());
  EXPECT_FALSE(result.kept_awake);
  EXPECT_EQ(ui_.panels[1],
            "The machine could not be kept awake: the login manager refused the inhibitor lock");
  ExpectMaintenanceEnded();
}

// A fault below the protocol that throws instead of failing: the upgrade breaks off as a
// failure, whatever step it was in, and lets go of everything it held, so that polling and the
// next upgrade go on.
class UpgradeThatThrowsTest : public testing::UpgradeTest {
 protected:
  UpgradeThatThrowsTest() {
    wrap_disks_ = [this](DiskSystem& host) {
      auto disks = std::make_unique<testing::ThrowingDiskSystem>(host);
      throwing_ = disks.get();
      return disks;
    };
    scenario_.drives[kRaidDrive] = sim::DriveSpec(sim::EnclosureSpec{});
    DiscoverHost();
  }
  testing::ThrowingDiskSystem* throwing_ = nullptr;
};

TEST_F(UpgradeThatThrowsTest, EndsAsAFailureWithEverythingLetGoAndPollingResumes) {
  const MessageBoxRequest thrown{"Error", "The device is not ready.", MessageIcon::kError};
  StatusMonitor monitor(device_->commands(), clock_, state_, device_->registry(), ui_);
  state_.polling.monitor_checked[0] = true;
  const FirmwareImage image = NewImage(kRaidDrive, 8192);
  for (const auto& [caption, step] : {std::pair{"Process 1 / 3", UpgradeStep::kErase},
                                      std::pair{"Process 2 / 3", UpgradeStep::kProgram},
                                      std::pair{"Process 3 / 3", UpgradeStep::kVerifyRead}}) {
    SCOPED_TRACE(caption);
    ui_.messages.clear();
    views_.on_caption = [&, caption = std::string(caption)](const std::string& shown) {
      if (shown == caption) throwing_->ThrowAt(5, thrown.text);
    };
    const UpgradeResult result = Upgrade(image, 0);
    EXPECT_EQ(result.outcome, UpgradeOutcome::kFailed);
    EXPECT_EQ(result.failed_step, step);
    EXPECT_EQ(result.last_message, thrown);
    EXPECT_THAT(ui_.messages, ElementsAre(thrown));
    ExpectMaintenanceEnded();
    EXPECT_EQ(monitor.RefreshStatus(), std::optional<std::uint8_t>(1));
    EXPECT_FALSE(state_.polling.status_poll_busy.load());
  }
  EXPECT_EQ(throwing_->thrown(), 3);
  EXPECT_EQ(keep_awake_.taken, 3);

  views_.on_caption = nullptr;
  EXPECT_TRUE(Upgrade(image, 0).Succeeded());
  EXPECT_EQ(Flash(kRaidDrive, image.size), image.bytes);
}

}  // namespace
}  // namespace raid
