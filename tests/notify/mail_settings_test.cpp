// SPDX-License-Identifier: GPL-2.0-or-later
// The mail settings store on a key in memory, with real template files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "notify/mail_settings.h"
#include "notify/mail_templates.h"
#include "support/memory_settings_backend.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using Value = testing::MemorySettingsBackend::Value;
using Lines = std::vector<std::string>;

class MailSettingsTest : public ::testing::Test {
 protected:
  MailSettingsTest() : backend_(PathToUtf8(folder_ / "")), store_(backend_, flags_) {}

  void StoreKey(std::map<std::string, Value, std::less<>> values) {
    backend_.stored_exists = true;
    backend_.stored = std::move(values);
  }
  // A key as a save of Edits() leaves it, loaded.
  void StoreLoadedKey() {
    StoreKey({{"Port", "25"},
              {"SMTP", "smtp.example.com"},
              {"UserName", "Raid"},
              {"Addr", "raid@example.com"},
              {"TimeOut", "10"},
              {"UserID", "raid"},
              {"ProductID", Bytes(ScramblePassword("pw", false, 0))},
              {"EMailSend", 0u},
              {"ToAddrCount", 1u},
              {"ToAddr_00", "admin@example.com"},
              {"FilePath", PathToUtf8(folder_ / "")}});
    ASSERT_EQ(store_.Load(), std::nullopt);
    backend_.written.clear();
  }
  static MailSettingsEdits Edits() {
    MailSettingsEdits edits;
    edits.fields = {"25", "smtp.example.com", "Raid", "raid@example.com", "10", "pw", "raid"};
    edits.recipients = {"admin@example.com"};
    edits.subject_hard_disks_fail = "Drive failed";
    edits.contents_hard_disks_fail = {"Replace it.", ""};
    return edits;
  }
  static std::vector<std::uint8_t> Bytes(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
  }
  std::string StoredText(const std::string& name) const {
    return std::get<std::string>(backend_.stored.at(name));
  }
  std::uint32_t StoredInteger(const std::string& name) const {
    return std::get<std::uint32_t>(backend_.stored.at(name));
  }
  fs::path Template(AlertKind kind, TemplatePart part) const {
    return folder_ / TemplateFileName(kind, part);
  }
  void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  testing::TempFolder folder_{"raidgui-mail-settings-"};
  testing::MemorySettingsBackend backend_;
  std::atomic<std::uint8_t> flags_{0};
  MailSettingsStore store_;
};

TEST_F(MailSettingsTest, StartCompletesAnExistingKeyFromTheSenderAddress) {
  for (const auto& [address, account] : std::vector<std::pair<std::string, std::string>>{
           {"joe@example.com", "joe"}, {"joe", "joe"}, {"a@b@c", "a"}}) {
    StoreKey({{"Addr", address}});
    flags_ = 0;
    EXPECT_EQ(store_.CheckAtStart(), std::nullopt);
    EXPECT_EQ(StoredText("UserID"), account) << address;
    EXPECT_EQ(StoredInteger("EMailSend"), 0u);
    EXPECT_EQ(flags_, kMailRequestReload);
  }
  StoreKey({{"Addr", "joe@example.com"}, {"UserID", "login"}, {"EMailSend", 3u}});
  backend_.written.clear();
  EXPECT_EQ(store_.CheckAtStart(), std::nullopt);
  EXPECT_TRUE(backend_.written.empty());
}

TEST_F(MailSettingsTest, StartWithoutAKeyWritesNothingAndRequestsNoLoad) {
  EXPECT_EQ(store_.CheckAtStart(), std::nullopt);
  EXPECT_FALSE(backend_.stored_exists);
  EXPECT_EQ(flags_, 0);
  const MailSettings settings = store_.Snapshot();
  EXPECT_FALSE(settings.key_exists);
  EXPECT_FALSE(settings.loaded);
  EXPECT_EQ(settings.file_path, PathToUtf8(folder_ / ""));
}

TEST_F(MailSettingsTest, LoadReadsEveryValueAndTemplateAndLeavesTheSendRequest) {
  StoreKey({{"Port", "587"},
            {"SMTP", "mail.example.com"},
            {"UserName", "Raid Box"},
            {"Addr", "box@example.com"},
            {"TimeOut", "30"},
            {"UserID", "box"},
            {"ProductID", Bytes(ScramblePassword("pw", true, 7))},
            {"EMailSend", 0b1010u},
            {"ToAddrCount", 2u},
            {"ToAddr_00", "a@example.com"},
            {"ToAddr_01", "b@example.com"},
            {"FilePath", PathToUtf8(folder_ / "")}});
  WriteFile(Template(AlertKind::kOverHeat, TemplatePart::kSubject), "Hot\r\n");
  WriteFile(Template(AlertKind::kFanFail, TemplatePart::kContents), "one\r\ntwo\r\n");
  flags_ = kMailRequestReload | kMailRequestSend;

  EXPECT_EQ(store_.Load(), std::nullopt);
  const MailSettings settings = store_.Snapshot();
  EXPECT_EQ(settings.settings_list,
            (Lines{"587", "mail.example.com", "Raid Box", "box@example.com", "30", "pw", "box"}));
  EXPECT_EQ(settings.auth_status, kAuthOn);
  EXPECT_EQ(settings.key_byte, 7);
  EXPECT_TRUE(settings.Suppressed(AlertKind::kDeviceRemoved));
  EXPECT_FALSE(settings.Suppressed(AlertKind::kHardDisksFail));
  EXPECT_EQ(settings.recipients, (Lines{"a@example.com", "b@example.com"}));
  EXPECT_EQ(settings.Subjects(AlertKind::kOverHeat), Lines{"Hot"});
  EXPECT_EQ(settings.Contents(AlertKind::kFanFail), (Lines{"one", "two"}));
  EXPECT_TRUE(settings.Subjects(AlertKind::kHardDisksFail).empty());
  EXPECT_TRUE(settings.loaded);
  EXPECT_EQ(flags_, kMailRequestSend);
}

TEST_F(MailSettingsTest, OlderKeyWithOnlyAnAddressLoads) {
  StoreKey({{"Addr", "old@example.com"}, {"FilePath", ""}});
  EXPECT_EQ(store_.Load(), std::nullopt);
  const MailSettings settings = store_.Snapshot();
  EXPECT_TRUE(settings.loaded);
  EXPECT_EQ(settings.settings_list, (Lines{"", "", "", "old@example.com", "", "", ""}));
  EXPECT_EQ(settings.auth_status, kAuthOff);
  EXPECT_EQ(settings.recipient_count, 0u);
  EXPECT_EQ(settings.suppress_mask, 0u);
  EXPECT_EQ(settings.file_path, PathToUtf8(folder_ / ""));
}

TEST_F(MailSettingsTest, StoredValuesAreNeverTrustedForTheirSize) {
  std::map<std::string, Value, std::less<>> key = {{"ToAddrCount", 4000u},
                                                   {"ProductID", std::vector<std::uint8_t>(40, 0)}};
  for (int i = 0; i < 12; ++i)
    key["ToAddr_0" + std::string(1, "0123456789AB"[i])] = "x@y";
  key.erase("ToAddr_03");
  StoreKey(std::move(key));
  EXPECT_EQ(store_.Load(), std::nullopt);
  const MailSettings settings = store_.Snapshot();
  EXPECT_EQ(settings.recipients.size(), 9u);  // ten at most, the missing one skipped
  EXPECT_EQ(settings.recipient_count, 9u);
  EXPECT_EQ(settings.Setting(kSettingPassword), "ErrorFormat");
  EXPECT_EQ(settings.auth_status, kAuthUnreadable);
  EXPECT_EQ(settings.key_byte, 0);
}

TEST_F(MailSettingsTest, FailedLoadSaysWhyOnceAndKeepsTheCopyWhole) {
  StoreLoadedKey();
  backend_.fail_refresh = "line 3: expected a value";
  flags_ = kMailRequestReload;
  const std::optional<std::string> problem = store_.Load();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("line 3: expected a value"), std::string::npos);
  EXPECT_EQ(flags_, 0);  // not retried every 200 ms
  const MailSettings settings = store_.Snapshot();
  EXPECT_FALSE(settings.loaded);
  EXPECT_EQ(settings.Setting(kSettingHost), "smtp.example.com");
}

TEST_F(MailSettingsTest, ReloadRequestedDuringALoadIsServedAgain) {
  StoreKey({{"Addr", "a@b"}});
  backend_.on_read = [this] { flags_ |= kMailRequestReload; };
  store_.Load();
  EXPECT_EQ(flags_, kMailRequestReload);
}

TEST_F(MailSettingsTest, FirstSaveWritesEverythingAndTheReloadReadsItBack) {
  store_.CheckAtStart();
  MailSettingsEdits edits = Edits();
  edits.login_authentication = true;
  edits.suppress_device_removed = true;
  EXPECT_EQ(store_.Save(edits, 0), std::nullopt);
  EXPECT_TRUE(backend_.stored_exists);
  for (const char* name : {"Port", "SMTP", "UserName", "Addr", "TimeOut", "UserID", "ProductID",
                           "EMailSend", "ToAddrCount", "ToAddr_00", "FilePath"}) {
    EXPECT_EQ(backend_.stored.count(name), 1u) << name;
  }
  EXPECT_EQ(flags_, kMailRequestReload);
  EXPECT_FALSE(store_.Snapshot().loaded);
  EXPECT_TRUE(store_.Snapshot().key_exists);

  EXPECT_EQ(store_.Load(), std::nullopt);
  const MailSettings settings = store_.Snapshot();
  EXPECT_EQ(settings.settings_list, Lines(edits.fields.begin(), edits.fields.end()));
  EXPECT_EQ(settings.auth_status, kAuthOn);
  EXPECT_EQ(settings.suppress_mask, 0b10u);
  EXPECT_EQ(settings.recipients, edits.recipients);
  EXPECT_EQ(settings.Subjects(AlertKind::kHardDisksFail), Lines{"Drive failed"});
  EXPECT_EQ(settings.Contents(AlertKind::kHardDisksFail), (Lines{"Replace it.", ""}));
}

// Only the described values change: nothing is written back from an older copy.
TEST_F(MailSettingsTest, SaveWritesTheChangedFieldsOnly) {
  StoreLoadedKey();
  backend_.stored["SMTP"] = "changed.elsewhere";
  backend_.stored["ToAddr_05"] = "past@the.count";
  backend_.stored["Extra"] = 7u;
  MailSettingsEdits edits = Edits();
  edits.fields[kSettingPort] = "2525";
  EXPECT_EQ(store_.Save(edits, kChangedPort), std::nullopt);
  EXPECT_EQ(backend_.written, (Lines{"Port", "EMailSend", "ProductID", "FilePath"}));
  EXPECT_EQ(StoredText("Port"), "2525");
  EXPECT_EQ(StoredText("SMTP"), "changed.elsewhere");
  EXPECT_EQ(StoredText("ToAddr_05"), "past@the.count");
  EXPECT_EQ(StoredInteger("Extra"), 7u);

  // Nothing changed: the password is not rewritten, unless the box differs from the switch.
  StoreLoadedKey();
  EXPECT_EQ(store_.Save(Edits(), 0), std::nullopt);
  EXPECT_EQ(backend_.written, (Lines{"EMailSend", "FilePath"}));
  backend_.written.clear();
  edits = Edits();
  edits.login_authentication = true;
  EXPECT_EQ(store_.Save(edits, 0), std::nullopt);
  EXPECT_EQ(backend_.written, (Lines{"EMailSend", "ProductID", "FilePath"}));
  const auto product_id = std::get<std::vector<std::uint8_t>>(backend_.stored.at("ProductID"));
  EXPECT_EQ(UnscramblePassword(product_id).auth_status, kAuthOn);
}

TEST_F(MailSettingsTest, SuppressionBoxesChangeOnlyTheirOwnBits) {
  StoreLoadedKey();
  backend_.stored["EMailSend"] = 0b1110u;
  ASSERT_EQ(store_.Load(), std::nullopt);
  MailSettingsEdits edits = Edits();
  edits.suppress_hard_disks_fail = true;
  store_.Save(edits, 0);
  EXPECT_EQ(StoredInteger("EMailSend"), 0b1101u);
}

TEST_F(MailSettingsTest, RecipientsAreRewrittenWhenTheyDifferAndTheCountGoverns) {
  StoreLoadedKey();
  MailSettingsEdits edits = Edits();
  edits.recipients.clear();
  for (int i = 0; i < 11; ++i)
    edits.recipients.push_back("r" + std::to_string(i) + "@x");
  store_.Save(edits, 0);
  EXPECT_EQ(StoredInteger("ToAddrCount"), 10u);
  EXPECT_EQ(StoredText("ToAddr_09"), "r9@x");
  EXPECT_EQ(backend_.stored.count("ToAddr_0A"), 0u);
  store_.Load();
  EXPECT_EQ(store_.Snapshot().recipients.size(), 10u);

  edits.recipients.clear();
  store_.Save(edits, 0);
  EXPECT_EQ(StoredInteger("ToAddrCount"), 0u);
  EXPECT_EQ(StoredText("ToAddr_00"), "r0@x");  // left behind, not read
  store_.Load();
  EXPECT_TRUE(store_.Snapshot().recipients.empty());
  EXPECT_EQ(store_.Snapshot().recipient_count, 0u);
}

TEST_F(MailSettingsTest, EmptyTemplateFieldsDeleteOnlyTheirOwnFiles) {
  StoreLoadedKey();
  for (const AlertKind kind : {AlertKind::kHardDisksFail, AlertKind::kDeviceRemoved,
                               AlertKind::kOverHeat, AlertKind::kFanFail}) {
    WriteFile(Template(kind, TemplatePart::kSubject), "old\r\n");
    WriteFile(Template(kind, TemplatePart::kContents), "old\r\n");
  }
  MailSettingsEdits edits = Edits();
  edits.contents_hard_disks_fail.clear();
  EXPECT_EQ(store_.Save(edits, 0), std::nullopt);
  EXPECT_FALSE(fs::exists(folder_ / "EmailSubject Device Removed.txt"));
  EXPECT_FALSE(fs::exists(folder_ / "EmailContens Device Removed.txt"));
  EXPECT_FALSE(fs::exists(folder_ / "EmailContens Hard Disks Fail.txt"));
  std::ostringstream subject;
  subject << std::ifstream(folder_ / "EmailSubject Hard Disks Fail.txt", std::ios::binary).rdbuf();
  EXPECT_EQ(subject.str(), "Drive failed\r\n");
  EXPECT_TRUE(fs::exists(folder_ / "EmailSubject Over Heat.txt"));
  EXPECT_TRUE(fs::exists(folder_ / "EmailContens Fan Fail.txt"));
}

TEST_F(MailSettingsTest, FailedSaveCommitsNothingAndSaysWhy) {
  StoreLoadedKey();
  backend_.fail_write = "ProductID";
  MailSettingsEdits edits = Edits();
  edits.fields[kSettingPort] = "2525";
  const std::optional<std::string> problem = store_.Save(edits, kChangedPort | kChangedPassword);
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("write refused"), std::string::npos);
  EXPECT_EQ(StoredText("Port"), "25");
  EXPECT_EQ(flags_, kMailRequestReload);  // the copy follows what is stored

  backend_ = testing::MemorySettingsBackend(PathToUtf8(folder_ / ""));
  MailSettingsStore fresh(backend_, flags_);
  flags_ = 0;
  backend_.fail_commit = true;
  EXPECT_TRUE(fresh.Save(Edits(), 0).has_value());
  EXPECT_FALSE(fresh.Snapshot().key_exists);
  EXPECT_EQ(flags_, 0);

  // A text that would be stored larger than a template may be read back: nothing is written,
  // neither the settings nor any template.
  backend_.fail_commit = false;
  MailSettingsEdits large = Edits();
  large.contents_device_removed.assign(kTemplateFileMaxBytes / 1024, std::string(1022, 'x'));
  large.contents_device_removed.back() += 'x';
  const std::optional<std::string> refused = fresh.Save(large, 0);
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(*refused, std::string(kSettingsNotSavedText) + "EmailContens Device Removed.txt: " +
                          TemplateTooLargeText(large.contents_device_removed));
  EXPECT_FALSE(backend_.stored_exists);
  EXPECT_TRUE(fs::is_empty(folder_));
}

// Load on the e-mail worker, Save on the window thread, copies for the sender: every copy is
// one save's settings, never a mix.
TEST_F(MailSettingsTest, ConcurrentLoadsAndSavesHandOutWholeCopies) {
  const auto edits_for = [](int round) {
    const std::string tag = round % 2 == 0 ? "even" : "odd";
    MailSettingsEdits edits;
    edits.fields.fill(tag);
    edits.recipients.assign(round % 2 == 0 ? 1 : 2, tag + "@x");
    return edits;
  };
  store_.Save(edits_for(0), 0xFF);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    while (!done)
      store_.Load();
  });
  std::thread sender([&] {
    while (!done) {
      const MailSettings copy = store_.Snapshot();
      if (!copy.loaded) continue;
      const std::string& tag = copy.settings_list.at(0);
      EXPECT_EQ(copy.settings_list, Lines(kSettingCount, tag));
      EXPECT_EQ(copy.recipients, Lines(tag == "even" ? 1 : 2, tag + "@x"));
    }
  });
  for (int round = 1; round < 200; ++round)
    store_.Save(edits_for(round), 0xFF);
  done = true;
  worker.join();
  sender.join();
}

}  // namespace
}  // namespace raid
