// SPDX-License-Identifier: GPL-2.0-or-later
// Alert and test mails from the mailer through libcurl to a real SMTP server on loopback: what
// the recipients get, with login over STARTTLS, and what happens when a recipient is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "common/bytes.h"
#include "notify/alert_mailer.h"
#include "notify/curl_smtp_client.h"
#include "support/memory_settings_backend.h"
#include "support/recording_ui_sink.h"
#include "support/smtp_test_server.h"
#include "support/status_record.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::SetDrive;
using ::testing::SizeIs;
using json = nlohmann::json;

constexpr const char* kUser = "raid-alerts";
constexpr const char* kPassword = "Pa55-w0rd";

class AlertMailDeliveryTest : public ::testing::Test {
 protected:
  AlertMailDeliveryTest()
      : backend_((folder_ / "templates").string() + "/"),
        store_(backend_, flags_),
        mailer_(store_, client_, registry_, records_, flags_, ui_, clock_) {
    fs::create_directories(folder_ / "templates");
    unsetenv("RAIDGUI_SMTP_CA_FILE");
    registry_.current.push_back(EnclosureInfo{.device_code = 1 | kEnclosureBit});
    WriteSwappedText(registry_.previous_blocks[1], kIdModelText, kIdModelLength, "RAID BOX");
    WriteSwappedText(registry_.previous_blocks[1], kIdFirmwareRevision, 8, "R0.50.11");
    ControllerStatus& record = records_.records[1];
    record.bytes[status_layout::kMode] = kModeMirroring;
    record.SetArrayCapacity(1953525168);
    SetDrive(record, 0, {kDriveAbsent, "WDC WD10EZEX-00BN5A0", "WD-WCC3F0000001", 1953525168});
    SetDrive(record, 1, {kDrivePresent});
    mailer_.SetSystemInfoLines(
        {"\n=========== [System Information] ==============", "\nSystem Name : testhost"});
  }

  std::unique_ptr<TestSmtpServer> StartServer(const std::string& name,
                                              std::vector<std::string> options = {}) {
    auto server = std::make_unique<TestSmtpServer>(folder_ / name, std::move(options));
    EXPECT_NE(server->port(), 0) << server->server_errors();
    return server;
  }

  void Configure(const TestSmtpServer& server, bool login, std::vector<std::string> recipients) {
    MailSettingsEdits edits;
    edits.fields = {std::to_string(server.port()), "localhost", "RAID Box", "raid@example.com", "5",
                    login ? kPassword : "",        kUser};
    edits.login_authentication = login;
    edits.recipients = std::move(recipients);
    edits.subject_hard_disks_fail = "S";
    edits.contents_hard_disks_fail = {"Call the help desk."};
    ASSERT_EQ(store_.Save(edits, 0xFF), std::nullopt);
    ASSERT_EQ(store_.Load(), std::nullopt);
    // The certificate a TLS test server made for "localhost".
    if (fs::exists(server.ca_file())) setenv("RAIDGUI_SMTP_CA_FILE", server.ca_file().c_str(), 1);
  }

  void RaiseAndServe(AlertKind kind) {
    mailer_.BuildAlertInfo(kind, 0, 0);
    while (mailer_.HasWork())
      mailer_.RunMailWork();
  }

  testing::TempFolder folder_{"alert-delivery-"};
  std::atomic<std::uint8_t> flags_{0};
  testing::MemorySettingsBackend backend_;
  MailSettingsStore store_;
  CurlSmtpClient client_;
  EnclosureRegistry registry_;
  testing::FakeRecords records_;
  testing::RecordingUiSink ui_;
  SystemClock clock_;
  AlertMailer mailer_;
};

TEST_F(AlertMailDeliveryTest, DriveFailureReachesBothRecipientsOverStartTlsWithLogin) {
  const auto server =
      StartServer("starttls", {"--mode", "starttls", "--user", kUser, "--password", kPassword});
  Configure(*server, true, {"ops@example.com", "me@example.org"});
  RaiseAndServe(AlertKind::kHardDisksFail);

  const std::vector<json> auth = server->Records("auth");
  ASSERT_THAT(auth, SizeIs(1));
  EXPECT_EQ(auth[0]["tls"], true) << "the password travelled in the clear";
  const std::vector<json> data = server->Records("data");
  ASSERT_THAT(data, SizeIs(1));
  EXPECT_EQ(data[0]["rcpt_tos"], json({"ops@example.com", "me@example.org"}));
  const json& mail = data[0]["parsed"];
  EXPECT_EQ(mail["subject"], "[RAID GUI v0.50.11-4 Message] S");
  EXPECT_EQ(mail["from_name"], "RAID Box");
  EXPECT_EQ(mail["to"], json({"ops@example.com", "me@example.org"}));
  EXPECT_EQ(mail["defects"], json::array());
  EXPECT_EQ(mail["body"],
            "Device1 P0 Hard Disk Drive fail.\n"
            "Device1 information :\n"
            "Model# RAID BOX\n"
            "Mirroring(RAID1), F/W Rev. R0.50.11\n"
            "Configured Capacity : 931 GB(1953525168 Sectors)\n"
            "  HDD1 is absent. \n"
            "    Model no.: WDC WD10EZEX-00BN5A0\n"
            "    Serial no.: \"WD-WCC3F0000001     \"\n"
            "    Capacity : 931 GB(1953525168 Sectors)\n"
            "  HDD2 is present.(SATA)\n"
            "    Model no.: \n"
            "    Serial no.: \"\"\n"
            "    Capacity : 0 MB(0 Sectors)\n"
            "\n=========== [System Information] ==============\n"
            "\nSystem Name : testhost\n"
            "Call the help desk.\n");
  EXPECT_EQ(ui_.panels[kMailProgressPanel], "Send mail Success!");
  EXPECT_TRUE(ui_.messages.empty());
}

// A refused recipient, or a stored entry no mail can go to, never stops the alert to the others:
// they are named once per mail, and counted.
TEST_F(AlertMailDeliveryTest, ARecipientThatFailsIsNamedAndTheOthersStillGetTheAlert) {
  const auto server = StartServer("plain", {"--refuse", "gone@example.com"});
  // "bob" was accepted by an older version's page.
  Configure(*server, false, {"bob", "ops@example.com", "gone@example.com"});
  std::vector<std::string> notices;
  mailer_.SetNoticeHandler([&](const std::string& notice) { notices.push_back(notice); });
  RaiseAndServe(AlertKind::kFanFail);
  std::vector<json> data = server->Records("data");
  ASSERT_THAT(data, SizeIs(1));
  EXPECT_EQ(data[0]["rcpt_tos"], json({"ops@example.com"}));
  EXPECT_THAT(data[0]["parsed"]["body"].get<std::string>(), HasSubstr("Device1 fan fail.\n"));
  EXPECT_TRUE(ui_.messages.empty());
  const std::string notice =
      "The mail went out, but not to: bob (not a usable address), gone@example.com (550 5.1.1 "
      "<gone@example.com>: Recipient address rejected: unknown user)";
  EXPECT_EQ(ui_.panels[kMailProgressPanel], notice);
  ui_.SetPanelText(kMailProgressPanel, "G = 2x, 01");  // the poll's trace waits behind it
  EXPECT_EQ(ui_.panels[kMailProgressPanel], notice);
  EXPECT_THAT(notices, ElementsAre(notice));
  EXPECT_EQ(mailer_.AlertMailsSent(), 1U);
  EXPECT_EQ(mailer_.AlertRecipientsFailed(), 2U);

  // Nobody left who takes it: a failure, shown as one, and the next alert still goes.
  Configure(*server, false, {"gone@example.com"});
  RaiseAndServe(AlertKind::kFanFail);
  ASSERT_THAT(ui_.messages, SizeIs(1));
  EXPECT_EQ(ui_.messages[0].caption, "E-Mail Message");
  EXPECT_THAT(ui_.messages[0].text, HasSubstr("no recipient accepted the mail: gone@example.com"));
  EXPECT_EQ(mailer_.AlertMailsFailed(), 1U);
  EXPECT_EQ(ui_.panels[kMailProgressPanel], notice);
  Configure(*server, false, {"ops@example.com"});
  RaiseAndServe(AlertKind::kFanFail);
  EXPECT_THAT(server->Records("data"), SizeIs(2));
  EXPECT_EQ(mailer_.AlertMailsSent(), 2U);
  // A mail that reached everyone ends it.
  EXPECT_EQ(ui_.panels[kMailProgressPanel], "Send mail Success!");
}

TEST_F(AlertMailDeliveryTest, TestMailGoesOnlyToTheSenderAndSaysSo) {
  const auto server = StartServer("plain");
  Configure(*server, false, {"ops@example.com", "me@example.org"});
  ASSERT_TRUE(mailer_.RequestTestMail(0));
  mailer_.RunMailWork();
  const std::vector<json> data = server->Records("data");
  ASSERT_THAT(data, SizeIs(1));
  EXPECT_EQ(data[0]["rcpt_tos"], json({"raid@example.com"}));
  EXPECT_EQ(data[0]["parsed"]["subject"], "[RAID GUI v0.50.11-4 Message] Mail Teat ");
  EXPECT_EQ(data[0]["parsed"]["body"],
            "[RAID GUI v0.50.11-4] E-Mail test!\n"
            "\n=========== [System Information] ==============\n"
            "\nSystem Name : testhost\n");
  ASSERT_THAT(ui_.messages, SizeIs(1));
  EXPECT_EQ(ui_.messages[0].text, "Send mail Success!");
}

}  // namespace
}  // namespace raid
