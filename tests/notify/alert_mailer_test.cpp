// SPDX-License-Identifier: GPL-2.0-or-later
// Alert mails from the detector's alert to the SMTP client: the information lines, the queue,
// suppression, the settings a mail needs, the test mail and what the user reads when sending
// fails. The client here is a fake that records; alert_mail_delivery_test sends through a real
// server.
#include "notify/alert_mailer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/bytes.h"
#include "notify/mail_worker.h"
#include "support/fake_smtp_client.h"
#include "support/memory_settings_backend.h"
#include "support/recording_ui_sink.h"
#include "support/status_record.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::FakeRecords;
using testing::FakeSmtpClient;
using ::testing::IsEmpty;
using testing::SetDrive;
using ::testing::SizeIs;

IdentificationBlock Identification(const char* model, const char* revision) {
  IdentificationBlock block{};
  WriteSwappedText(block, kIdModelText, kIdModelLength, model);
  WriteSwappedText(block, kIdFirmwareRevision, 8, revision);
  return block;
}

class AlertMailerTest : public ::testing::Test {
 protected:
  AlertMailerTest()
      : backend_(folder_.path().string() + "/"),
        store_(backend_, flags_),
        mailer_(store_, client_, registry_, records_, flags_, ui_, clock_) {
    AddEnclosure(2, "USB RAID BOX 2A", "R0.50.11");
    ControllerStatus& record = records_.records[2];
    record.bytes[status_layout::kMode] = kModeMirroring;
    record.SetArrayCapacity(1953525168);
    SetDrive(record, 0, {kDrivePresent, "WDC WD10EZEX-00BN5A0", "WD-WCC3F0000001", 1953525168});
    SetDrive(record, 1, {kDrivePresent, "ST1000DM003-1ER162", "Z4Y00002", 1953525168});
    record.bytes[status_layout::kLinkSpeeds] = 0x23;  // HDD1 3, HDD2 2
    mailer_.SetSystemInfoLines({"\n=== system", "\nMotherBoard : A - B"});
  }

  void AddEnclosure(unsigned drive, const char* model, const char* revision) {
    registry_.current.push_back(EnclosureInfo{.device_code = drive | kEnclosureBit});
    registry_.previous_blocks[drive] = Identification(model, revision);
  }

  // Saved and loaded settings with two recipients and a kind 1 subject and contents.
  void Configure(std::vector<std::string> recipients = {"ops@example.com", "me@example.org"}) {
    MailSettingsEdits edits;
    edits.fields = {"25", "smtp.example.com", "RAID box", "raid@example.com", "7", "", "raid"};
    edits.recipients = std::move(recipients);
    edits.subject_hard_disks_fail = "Disk trouble";
    edits.contents_hard_disks_fail = {"Please replace the drive.", "Thanks"};
    edits.suppress_device_removed = suppress_removed_;
    ASSERT_EQ(store_.Save(edits, 0xFF), std::nullopt);
    ASSERT_EQ(store_.Load(), std::nullopt);
    flags_ = 0;
  }

  void ServeAll() {
    for (int round = 0; round < 5 && mailer_.HasWork(); ++round)
      mailer_.RunMailWork();
  }

  testing::TempFolder folder_{"alert-mailer-"};
  std::atomic<std::uint8_t> flags_{0};
  testing::MemorySettingsBackend backend_;
  MailSettingsStore store_;
  FakeSmtpClient client_;
  EnclosureRegistry registry_;
  FakeRecords records_;
  testing::RecordingUiSink ui_;
  VirtualClock clock_;
  bool suppress_removed_ = false;
  AlertMailer mailer_;
};

TEST(AlertInfoLinesTest, DriveFailureDescribesTheEnclosureAndBothDrives) {
  ControllerStatus record;
  record.bytes[status_layout::kMode] = kModeStriping;
  record.SetArrayCapacity(2097151);
  SetDrive(record, 0, {kDriveAbsent, "WDC WD10EZEX-00BN5A0", "WD-WCC3F0000001", 1953525168});
  SetDrive(record, 1, {kDrivePresent, "ST1000DM003-1ER162", "Z4Y00002", 2097152});
  record.bytes[status_layout::kLinkSpeeds] = 0x10;  // HDD2 1
  EXPECT_THAT(
      AlertInfoLines(AlertKind::kHardDisksFail, 0, 0, Identification("BOX", "R0.50.11"), record),
      ElementsAre("Device1 P0 Hard Disk Drive fail.", "Device1 information :",
                  "Model# BOX   ",  // the first six characters are never trimmed
                  "Striping(RAID0), F/W Rev. R0.50.11",
                  "Configured Capacity : 1023 MB(2097151 Sectors)", "  HDD1 is absent. ",
                  "    Model no.: WDC WD10EZEX-00BN5A0", "    Serial no.: \"WD-WCC3F0000001     \"",
                  "    Capacity : 931 GB(1953525168 Sectors)", "  HDD2 is present.(SATA1.5G)",
                  "    Model no.: ST1000DM003-1ER162", "    Serial no.: \"Z4Y00002            \"",
                  "    Capacity : 1 GB(2097152 Sectors)"));
}

TEST(AlertInfoLinesTest, OtherKindsListDriveDetailsOnlyForPresentOrTooSmallDrives) {
  ControllerStatus record;
  record.bytes[status_layout::kMode] = 63;
  SetDrive(record, 0, {kDriveInserted, "NEW", "N1", 1000});
  SetDrive(record, 1, {kDriveFailed, "TINY", "T1", 2048});
  IdentificationBlock id = Identification("BOX", "R0.50.11");
  id[kIdFirmwareRevision + 2] = 0x07;  // a control character: the revision goes as hex
  const std::vector<std::string> lines = AlertInfoLines(AlertKind::kFanFail, 1, 0, id, record);
  EXPECT_THAT(lines,
              ElementsAre("Device2 fan fail.", "Device2 information :",
                          "Model# BOX   ",  // the first six characters are never trimmed
                          "Bypass, F/W Rev. 3052072E2E30", "Configured Capacity : 0 MB(0 Sectors)",
                          "HDD1 was inserted.", "  HDD2 was failed, Capacity too small.",
                          "    Model no.: TINY  ", "    Serial no.: \"T1                  \"",
                          "    Capacity : 1 MB(2048 Sectors)"));
  EXPECT_EQ(AlertInfoLines(AlertKind::kOverHeat, 3, 0, id, record)[0], "Device4 over heat.");
  EXPECT_EQ(AlertInfoLines(AlertKind::kDeviceRemoved, 0, 0, id, record)[0],
            "Device1 RAID system fail.");
}

TEST_F(AlertMailerTest, DriveFailureGoesToEveryRecipientWithTheTemplate) {
  Configure();
  mailer_.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 1);
  EXPECT_EQ(flags_.load(), kMailRequestSend);
  mailer_.RunMailWork();

  ASSERT_THAT(client_.sent, SizeIs(1));
  const MailMessage& mail = client_.sent[0];
  EXPECT_EQ(mail.subject, "[RAID GUI v0.50.11-4 Message] Disk trouble");
  EXPECT_THAT(mail.recipients, ElementsAre("ops@example.com", "me@example.org"));
  EXPECT_EQ(mail.from_name, "RAID box");
  EXPECT_EQ(mail.from_address, "raid@example.com");
  ASSERT_THAT(mail.body, SizeIs(13 + 2 + 2));
  EXPECT_EQ(mail.body[0], "Device1 P1 Hard Disk Drive fail.");
  EXPECT_EQ(mail.body[4], "Configured Capacity : 931 GB(1953525168 Sectors)");
  EXPECT_EQ(mail.body[5], "  HDD1 is present.(SATA6G)");
  EXPECT_EQ(mail.body[13], "\n=== system");
  EXPECT_EQ(mail.body[16], "Thanks");
  EXPECT_EQ(flags_.load(), 0);
  EXPECT_EQ(ui_.panels[kMailProgressPanel], "Send mail Success!");
  EXPECT_EQ(ui_.panel_history.front(), std::make_pair(kMailFlagsPanel, std::string("Email=2")));
  // An alert mail tells of its success in the status bar only.
  EXPECT_THAT(ui_.messages, IsEmpty());

  ASSERT_THAT(client_.accounts, SizeIs(1));
  EXPECT_EQ(client_.accounts[0].host, "smtp.example.com");
  EXPECT_EQ(client_.accounts[0].port, 25);
  EXPECT_EQ(client_.accounts[0].timeout_seconds, 7u);
  EXPECT_FALSE(client_.accounts[0].login);
  EXPECT_FALSE(client_.Connected());
}

TEST_F(AlertMailerTest, EveryAlertOfOnePollIsMailedAndASuppressedOneWipesNothing) {
  suppress_removed_ = true;
  Configure();
  mailer_.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 0);
  mailer_.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 1);
  mailer_.BuildAlertInfo(AlertKind::kDeviceRemoved, 0, 0);  // suppressed: nothing queued
  EXPECT_EQ(mailer_.QueuedAlerts(), 2u);
  ServeAll();
  ASSERT_THAT(client_.sent, SizeIs(2));
  EXPECT_EQ(client_.sent[0].body[0], "Device1 P0 Hard Disk Drive fail.");
  EXPECT_EQ(client_.sent[1].body[0], "Device1 P1 Hard Disk Drive fail.");
}

TEST_F(AlertMailerTest, SubjectWithoutItsFileEndsInABlankAndKindsWithoutTextsStillGo) {
  Configure();
  mailer_.BuildAlertInfo(AlertKind::kOverHeat, 0, 0);
  ServeAll();
  ASSERT_THAT(client_.sent, SizeIs(1));
  EXPECT_EQ(client_.sent[0].subject, "[RAID GUI v0.50.11-4 Message] ");
  EXPECT_EQ(client_.sent[0].body.back(), "\nMotherBoard : A - B");
}

TEST_F(AlertMailerTest, AlertsWithoutLoadedSettingsOrRecipientsAreDroppedNotKept) {
  mailer_.BuildAlertInfo(AlertKind::kFanFail, 0, 0);
  ServeAll();
  EXPECT_THAT(client_.sent, IsEmpty());
  EXPECT_EQ(mailer_.QueuedAlerts(), 0u);

  Configure({});
  mailer_.BuildAlertInfo(AlertKind::kFanFail, 0, 0);
  ServeAll();
  EXPECT_THAT(client_.sent, IsEmpty());
  EXPECT_EQ(flags_.load(), 0);

  Configure();  // later alerts are mailed; the dropped ones are not
  mailer_.BuildAlertInfo(AlertKind::kFanFail, 0, 0);
  ServeAll();
  EXPECT_THAT(client_.sent, SizeIs(1));
  // Mail that is off fails nothing.
  EXPECT_EQ(mailer_.AlertMailsFailed(), 0u);
  EXPECT_EQ(mailer_.AlertMailsSent(), 1u);
}

TEST_F(AlertMailerTest, RemovalDescribesTheEnclosureThatLeftNotTheOneThatMovedUp) {
  AddEnclosure(3, "SECOND BOX", "R0.50.11");
  records_.records[3].bytes[status_layout::kMode] = kModeStriping;
  Configure();
  mailer_.ListPolled();
  // The first enclosure leaves; the second moves up into position 0.
  registry_.current.erase(registry_.current.begin());
  mailer_.BuildAlertInfo(AlertKind::kDeviceRemoved, 0, 0);
  ServeAll();
  ASSERT_THAT(client_.sent, SizeIs(1));
  EXPECT_EQ(client_.sent[0].body[0], "Device1 RAID system fail.");
  EXPECT_EQ(client_.sent[0].body[2], "Model# USB RAID BOX 2A");
  EXPECT_EQ(client_.sent[0].body[3], "Mirroring(RAID1), F/W Rev. R0.50.11");
}

TEST_F(AlertMailerTest, FailuresAreShownOnceEndDisconnectedAndTheNextAlertGoes) {
  Configure();
  client_.connect_error = "cannot connect to smtp.example.com port 25: Connection refused";
  mailer_.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 0);
  ServeAll();
  ASSERT_THAT(ui_.messages, SizeIs(1));
  EXPECT_EQ(ui_.messages[0].caption, "E-Mail Message");
  EXPECT_EQ(ui_.messages[0].text, client_.connect_error);
  EXPECT_EQ(flags_.load(), 0);

  client_.connect_error.clear();
  client_.send_error = "the server refused the recipient: 550 no such user";
  mailer_.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 0);
  ServeAll();
  ASSERT_THAT(ui_.messages, SizeIs(2));
  EXPECT_EQ(ui_.messages[1].text, client_.send_error);
  EXPECT_FALSE(client_.Connected());

  client_.send_error.clear();
  mailer_.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 0);
  ServeAll();
  EXPECT_THAT(client_.sent, SizeIs(1));
  EXPECT_THAT(ui_.messages, SizeIs(2));
  // What the metrics count: two alert mails lost, one sent.
  EXPECT_EQ(mailer_.AlertMailsFailed(), 2u);
  EXPECT_EQ(mailer_.AlertMailsSent(), 1u);
}

TEST_F(AlertMailerTest, PortThatIsNoNumberIsReportedWithoutConnecting) {
  MailSettingsEdits edits;
  edits.fields = {"2x5", "smtp.example.com", "", "raid@example.com", "0", "", ""};
  edits.recipients = {"ops@example.com"};
  ASSERT_EQ(store_.Save(edits, 0xFF), std::nullopt);
  mailer_.BuildAlertInfo(AlertKind::kFanFail, 0, 0);
  ServeAll();
  EXPECT_THAT(client_.accounts, IsEmpty());
  ASSERT_THAT(ui_.messages, SizeIs(1));
  EXPECT_EQ(ui_.messages[0].text,
            "The e-mail host's port \"2x5\" is not a number from 1 to 65535.");
}

TEST_F(AlertMailerTest, UnconfirmedMessageIsWaitedForThenGivenUp) {
  Configure();
  client_.never_confirms = true;
  const std::uint64_t start = clock_.NowMs();
  const MailOutcome outcome = mailer_.SendTestMailNow();
  EXPECT_FALSE(outcome.sent);
  EXPECT_EQ(clock_.NowMs() - start, 20u * 500u);
  EXPECT_EQ(ui_.panels[kMailProgressPanel], "Mail is Sending...");
  EXPECT_THAT(ui_.messages, IsEmpty());  // no success message
  EXPECT_FALSE(client_.Connected());
}

TEST_F(AlertMailerTest, TestMailIsRefusedUntilSavedAndLoadedThenGoesToTheSenderOnly) {
  EXPECT_FALSE(mailer_.RequestTestMail(0));
  EXPECT_FALSE(mailer_.RequestTestMail(kChangedPassword));
  ASSERT_THAT(ui_.messages, SizeIs(2));
  EXPECT_EQ(ui_.messages[0].text, "E-Mail setting isn't ready!");
  EXPECT_EQ(ui_.messages[1].text,
            "E-Mail setting was changed, please click \"OK\" or \"Ignore\" button first!");

  Configure();
  ASSERT_TRUE(mailer_.RequestTestMail(0));
  EXPECT_TRUE(mailer_.HasWork());
  mailer_.RunMailWork();
  ASSERT_THAT(client_.sent, SizeIs(1));
  EXPECT_THAT(client_.sent[0].recipients, ElementsAre("raid@example.com"));
  EXPECT_EQ(client_.sent[0].subject, "[RAID GUI v0.50.11-4 Message] Mail Teat ");
  EXPECT_THAT(client_.sent[0].body, ElementsAre("[RAID GUI v0.50.11-4] E-Mail test!",
                                                "\n=== system", "\nMotherBoard : A - B"));
  ASSERT_THAT(ui_.messages, SizeIs(3));
  EXPECT_EQ(ui_.messages[2].text, "Send mail Success!");
  EXPECT_FALSE(mailer_.HasWork());
  EXPECT_EQ(mailer_.AlertMailsSent(), 0u);  // no alert
}

TEST_F(AlertMailerTest, LoginAccountAndTimeOutComeFromTheSettings) {
  MailSettingsEdits edits;
  edits.fields = {"587", "smtp.example.com", "", "raid@example.com", "", "pass word", "raid"};
  edits.login_authentication = true;
  ASSERT_EQ(store_.Save(edits, 0xFF), std::nullopt);
  ASSERT_EQ(store_.Load(), std::nullopt);
  EXPECT_TRUE(mailer_.SendTestMailNow().sent);
  ASSERT_THAT(client_.accounts, SizeIs(1));
  EXPECT_TRUE(client_.accounts[0].login);
  EXPECT_EQ(client_.accounts[0].user, "raid");
  EXPECT_EQ(client_.accounts[0].password, "pass word");
  EXPECT_EQ(client_.accounts[0].port, 587);
  EXPECT_EQ(client_.accounts[0].timeout_seconds, 0u);  // the client's 30 s
}

// The detector raises alerts on the RAID worker while the e-mail worker mails them.
TEST_F(AlertMailerTest, ConcurrentAlertsAndMailWorkLoseNoAlert) {
  Configure();
  constexpr int kAlerts = 300;
  std::atomic<bool> raised{false};
  std::thread raiser([&] {
    for (int i = 0; i < kAlerts; ++i) {
      mailer_.BuildAlertInfo(AlertKind::kHardDisksFail, 0, static_cast<unsigned>(i % 2));
      if (i % 50 == 0) mailer_.ListPolled();
    }
    raised = true;
  });
  std::thread worker([&] {
    while (!raised || mailer_.HasWork()) {
      if (mailer_.HasWork()) {
        mailer_.RunMailWork();
      } else {
        std::this_thread::yield();
      }
    }
  });
  raiser.join();
  worker.join();
  EXPECT_THAT(client_.sent, SizeIs(kAlerts));
  EXPECT_EQ(mailer_.QueuedAlerts(), 0u);
}

// The worker mails what is raised beside it; at a stop a mail that hangs is cancelled, and what
// it leaves unsent is counted.
TEST_F(AlertMailerTest, MailWorkerThreadSendsBesideTheCallerAndCancelsAHangingMailAtTheStop) {
  Configure();
  FakeSmtpClient stalling;
  AlertMailer mailer(store_, stalling, registry_, records_, flags_, ui_, clock_);
  MailWorker worker(mailer);
  for (int i = 0; i < 3; ++i) {
    mailer.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 0);
    worker.Wake();
  }
  ASSERT_TRUE(stalling.WaitUntilSent(3));

  stalling.FallSilentAt(FakeSmtpClient::Silence::kAtSend);
  mailer.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 1);
  worker.Wake();
  ASSERT_TRUE(stalling.WaitUntilHeld());
  mailer.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 0);
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_TRUE(worker.Stop(std::chrono::milliseconds(100), std::chrono::seconds(5)));
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(2));
  EXPECT_EQ(mailer.AlertMailsSent(), 3U);
  EXPECT_EQ(mailer.AlertsNotSent(), 2U);
  EXPECT_THAT(ui_.messages, IsEmpty()) << "a stop is no mail failure to show";
}

// An alert raised just before a stop, with nobody waking the worker, still goes out within the
// grace; of a batch cut short by the stop, the mail under way and those after it are all counted.
TEST_F(AlertMailerTest, AtAStopDueMailGoesOutAndEveryMailLeftIsCounted) {
  Configure();
  {
    FakeSmtpClient client;
    AlertMailer mailer(store_, client, registry_, records_, flags_, ui_, clock_);
    MailWorker worker(mailer);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // its first look is over
    mailer.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 0);
    EXPECT_TRUE(worker.Stop(std::chrono::seconds(5), std::chrono::seconds(5)));
    EXPECT_EQ(mailer.AlertMailsSent(), 1U);
    EXPECT_EQ(mailer.AlertsNotSent(), 0U);
  }
  FakeSmtpClient stalling;
  AlertMailer mailer(store_, stalling, registry_, records_, flags_, ui_, clock_);
  MailWorker worker(mailer);
  stalling.FallSilentAt(FakeSmtpClient::Silence::kAtSend);
  mailer.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 0);
  mailer.BuildAlertInfo(AlertKind::kHardDisksFail, 0, 1);
  worker.Wake();
  ASSERT_TRUE(stalling.WaitUntilHeld());
  EXPECT_TRUE(worker.Stop(std::chrono::milliseconds(100), std::chrono::seconds(5)));
  EXPECT_EQ(mailer.AlertsNotSent(), 2U);  // the one cancelled and the one after it
}

}  // namespace
}  // namespace raid
