// SPDX-License-Identifier: GPL-2.0-or-later
// The E-mail page's logic: the recipient list, filling the fields on opening and on Ignore, OK's
// defaults and edits, and the changed mask that the Test button looks at.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "notify/email_page_model.h"
#include "notify/mail_templates.h"
#include "support/memory_settings_backend.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

const MessageBoxRequest kFormulaError{"E-Mail Message", "E-Mail Address formula error!",
                                      MessageIcon::kInformation};

// --- PendingRecipients -------------------------------------------------------------------------

TEST(PendingRecipientsTest, AddAcceptsAnyTextWithAnAtAndRefusesTheRest) {
  PendingRecipients recipients;
  const auto at_alone = recipients.Add("@");
  EXPECT_TRUE(at_alone.added);
  EXPECT_TRUE(at_alone.clear_entry);
  EXPECT_EQ(at_alone.refusal, std::nullopt);
  // The "@" may stand anywhere; the same address twice is two recipients.
  EXPECT_TRUE(recipients.Add("admin@").added);
  EXPECT_TRUE(recipients.Add("admin@").added);

  const auto no_at = recipients.Add("admin.example.com");
  EXPECT_FALSE(no_at.added);
  EXPECT_TRUE(no_at.clear_entry);
  EXPECT_EQ(no_at.refusal, kFormulaError);
  EXPECT_THAT(recipients.addresses(), ElementsAre("@", "admin@", "admin@"));

  const auto empty = recipients.Add("");
  EXPECT_FALSE(empty.added);
  EXPECT_FALSE(empty.clear_entry);
  EXPECT_EQ(empty.refusal, std::nullopt);
}

TEST(PendingRecipientsTest, AFullListIgnoresAddsAndLeavesTheEntry) {
  PendingRecipients recipients;
  for (int i = 0; i < 10; ++i)
    ASSERT_TRUE(recipients.Add("user" + std::to_string(i) + "@example.com").added) << i;
  for (const char* entry : {"eleventh@example.com", "no at sign"}) {
    const auto result = recipients.Add(entry);
    EXPECT_FALSE(result.added) << entry;
    EXPECT_FALSE(result.clear_entry) << entry;
    EXPECT_EQ(result.refusal, std::nullopt) << entry;
  }
  EXPECT_EQ(recipients.addresses().size(), 10U);
  EXPECT_EQ(recipients.addresses().back(), "user9@example.com");
}

TEST(PendingRecipientsTest, RemoveAndSelectWorkOnFilledRowsOnly) {
  PendingRecipients recipients;
  recipients.Assign({"a@x", "b@x", "c@x"});
  EXPECT_EQ(recipients.RowText(2), "c@x");
  EXPECT_EQ(recipients.RowText(3), "");
  EXPECT_EQ(recipients.RowText(-1), "");

  EXPECT_FALSE(recipients.Remove(3));   // an empty row
  EXPECT_FALSE(recipients.Remove(-1));  // no selection
  EXPECT_THAT(recipients.addresses(), ElementsAre("a@x", "b@x", "c@x"));

  EXPECT_TRUE(recipients.Remove(1));
  EXPECT_THAT(recipients.addresses(), ElementsAre("a@x", "c@x"));
  EXPECT_EQ(recipients.RowText(1), "c@x");
  EXPECT_TRUE(recipients.Remove(0));
  EXPECT_TRUE(recipients.Remove(0));
  EXPECT_THAT(recipients.addresses(), IsEmpty());
}

// --- Memo texts --------------------------------------------------------------------------------

TEST(MemoLinesTest, SplitsOnLineFeedsAndJoinsBack) {
  EXPECT_THAT(MemoLines(""), IsEmpty());
  EXPECT_THAT(MemoLines("one"), ElementsAre("one"));
  EXPECT_THAT(MemoLines("one\n"), ElementsAre("one"));
  EXPECT_THAT(MemoLines("one\r\n\r\nthree"), ElementsAre("one", "", "three"));
  EXPECT_THAT(MemoLines("\n"), ElementsAre(""));
  EXPECT_EQ(MemoText({"one", ""}), "one\n\n");
  for (const Lines& lines :
       {Lines{}, Lines{"one"}, Lines{"one", "", "three"}, Lines{"a", ""}, Lines{""}})
    EXPECT_EQ(MemoLines(MemoText(lines)), lines) << MemoText(lines);
}

// --- Filling, OK and the changed mask -----------------------------------------------------------

MailSettings StoredSettings() {
  MailSettings settings;
  settings.key_exists = true;
  settings.loaded = true;
  settings.settings_list = {"587", "smtp.example.com", "Raid",        "raid@example.com",
                            "30",  "secret",           "raid-account"};
  settings.auth_status = kAuthOn;
  settings.suppress_mask = 0x02;  // device removals only
  settings.recipients = {"admin@example.com", "ops@example.com"};
  settings.recipient_count = 2;
  settings.subjects[0] = {"Disk failed", "ignored second line"};
  settings.contents[0] = {"Replace it.", "", "Soon."};
  settings.contents[1] = {"Plug it back."};
  return settings;
}

// What a user may have typed before the page is filled.
EmailPageFields TypedFields() {
  EmailPageFields fields;
  fields.setup = {"2525", "typed.host", "Typed", "typed@host", "9", "typed-pw", "typed-account"};
  fields.login_authentication = true;
  fields.suppress_hard_disks_fail = true;
  fields.suppress_device_removed = false;
  fields.subject_hard_disks_fail = "typed subject";
  fields.contents_hard_disks_fail = {"typed"};
  fields.subject_device_removed = "typed removal";
  fields.contents_device_removed = {"typed removal text"};
  return fields;
}

TEST(EmailPageModelTest, OpeningWithAKeyShowsTheStoredSettings) {
  EmailPageModel model;
  model.recipients().Assign({"typed@x"});
  model.FieldChanged(kSettingHost);
  EmailPageFields fields = TypedFields();
  model.Open(StoredSettings(), fields);

  EXPECT_THAT(fields.setup, ElementsAre("587", "smtp.example.com", "Raid", "raid@example.com", "30",
                                        "secret", "raid-account"));
  EXPECT_TRUE(fields.login_authentication);
  EXPECT_FALSE(fields.suppress_hard_disks_fail);
  EXPECT_TRUE(fields.suppress_device_removed);
  EXPECT_EQ(fields.subject_hard_disks_fail, "Disk failed");
  EXPECT_THAT(fields.contents_hard_disks_fail, ElementsAre("Replace it.", "", "Soon."));
  EXPECT_EQ(fields.subject_device_removed, "");  // no subject file
  EXPECT_THAT(fields.contents_device_removed, ElementsAre("Plug it back."));
  EXPECT_THAT(model.recipients().addresses(), ElementsAre("admin@example.com", "ops@example.com"));
  EXPECT_EQ(model.settings_changed_mask(), 0);
}

TEST(EmailPageModelTest, AnUnreadablePasswordShowsErrorFormatWithoutLogin) {
  MailSettings settings = StoredSettings();
  settings.settings_list[kSettingPassword] = std::string(kErrorFormat);
  settings.auth_status = kAuthUnreadable;
  EmailPageModel model;
  EmailPageFields fields = TypedFields();
  model.Open(settings, fields);
  EXPECT_EQ(fields.setup[kSettingPassword], "ErrorFormat");
  EXPECT_FALSE(fields.login_authentication);
}

TEST(EmailPageModelTest, WithoutAKeyOnlyTheDefaultsAreFilledIn) {
  MailSettings settings;  // nothing was ever saved
  for (const bool ignore : {false, true}) {
    EmailPageModel model;
    model.recipients().Assign({"typed@x"});
    model.FieldChanged(kSettingPassword);
    EmailPageFields fields = TypedFields();
    ignore ? model.Ignore(settings, fields) : model.Open(settings, fields);

    EXPECT_EQ(fields.setup[kSettingPort], "25") << ignore;
    EXPECT_EQ(fields.setup[kSettingTimeOut], "0") << ignore;
    EXPECT_FALSE(fields.login_authentication) << ignore;
    // The rest stays as typed.
    EXPECT_EQ(fields.setup[kSettingHost], "typed.host") << ignore;
    EXPECT_EQ(fields.setup[kSettingPassword], "typed-pw") << ignore;
    EXPECT_TRUE(fields.suppress_hard_disks_fail) << ignore;
    EXPECT_EQ(fields.subject_device_removed, "typed removal") << ignore;
    EXPECT_THAT(model.recipients().addresses(), ElementsAre("typed@x")) << ignore;
    EXPECT_EQ(model.settings_changed_mask(), 0) << ignore;
  }
}

TEST(EmailPageModelTest, IgnoreRefillsEverythingButTheSuppressionBoxes) {
  EmailPageModel model;
  EmailPageFields fields = TypedFields();  // CheckBox2 ticked, CheckBox4 not
  model.recipients().Assign({"typed@x"});
  model.FieldChanged(kSettingPort);
  model.Ignore(StoredSettings(), fields);

  EXPECT_TRUE(fields.suppress_hard_disks_fail);
  EXPECT_FALSE(fields.suppress_device_removed);
  EXPECT_EQ(fields.setup[kSettingPort], "587");
  EXPECT_EQ(fields.setup[kSettingAccount], "raid-account");
  EXPECT_TRUE(fields.login_authentication);
  EXPECT_EQ(fields.subject_hard_disks_fail, "Disk failed");
  EXPECT_THAT(model.recipients().addresses(), ElementsAre("admin@example.com", "ops@example.com"));
  EXPECT_EQ(model.settings_changed_mask(), 0);
}

TEST(EmailPageModelTest, EachSetupFieldMarksItsOwnBit) {
  // Edit1 bit 0 ... Edit5 bit 4, Edit8 bit 5, Edit12 bit 7; bit 6 belongs to the recipients.
  const std::array<std::uint8_t, kSettingCount> bits = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x80};
  for (std::size_t position = 0; position < kSettingCount; ++position) {
    EmailPageModel model;
    model.FieldChanged(position);
    EXPECT_EQ(model.settings_changed_mask(), bits[position]) << position;
  }
  EmailPageModel model;
  for (std::size_t position = 0; position < kSettingCount; ++position)
    model.FieldChanged(position);
  EXPECT_EQ(model.settings_changed_mask(), 0xBF);
  model.ClearSettingsChangedMask();
  EXPECT_EQ(model.settings_changed_mask(), 0);
}

TEST(EmailPageModelTest, OkFillsEmptyPortAndTimeOutAsChanges) {
  EmailPageModel model;
  EmailPageFields fields = TypedFields();
  fields.setup[kSettingPort].clear();
  fields.setup[kSettingTimeOut].clear();
  model.recipients().Assign({"a@x", "b@x"});
  const MailSettingsEdits edits = model.PrepareOk(fields);

  EXPECT_EQ(fields.setup[kSettingPort], "25");
  EXPECT_EQ(fields.setup[kSettingTimeOut], "0");
  EXPECT_EQ(model.settings_changed_mask(), kChangedPort | kChangedTimeOut);
  EXPECT_THAT(edits.fields, ElementsAre("25", "typed.host", "Typed", "typed@host", "0", "typed-pw",
                                        "typed-account"));
  EXPECT_TRUE(edits.login_authentication);
  EXPECT_TRUE(edits.suppress_hard_disks_fail);
  EXPECT_FALSE(edits.suppress_device_removed);
  EXPECT_THAT(edits.recipients, ElementsAre("a@x", "b@x"));
  EXPECT_EQ(edits.subject_hard_disks_fail, "typed subject");
  EXPECT_THAT(edits.contents_hard_disks_fail, ElementsAre("typed"));
  EXPECT_EQ(edits.subject_device_removed, "typed removal");
  EXPECT_THAT(edits.contents_device_removed, ElementsAre("typed removal text"));

  // Filled fields stay as they are and mark nothing.
  EmailPageModel untouched;
  EmailPageFields filled = TypedFields();
  EXPECT_EQ(untouched.PrepareOk(filled).fields[kSettingPort], "2525");
  EXPECT_EQ(untouched.settings_changed_mask(), 0);
}

// OK's edits through the real store and back: what the page saved is what it shows next time.
TEST(EmailPageModelTest, SavedEditsComeBackOnTheNextOpening) {
  const testing::TempFolder folder("raidgui-email-page-");
  testing::MemorySettingsBackend backend(PathToUtf8(folder / ""));
  std::atomic<std::uint8_t> flags{0};
  MailSettingsStore store(backend, flags);
  ASSERT_EQ(store.CheckAtStart(), std::nullopt);

  EmailPageModel model;
  EmailPageFields fields;
  model.Open(store.Snapshot(), fields);
  fields.setup[kSettingHost] = "smtp.example.com";
  fields.setup[kSettingPassword] = "pw";
  fields.login_authentication = true;
  fields.suppress_device_removed = true;
  fields.subject_device_removed = "Gone";
  fields.contents_hard_disks_fail = {"line 1", "line 2"};
  fields.setup[kSettingPort].clear();
  ASSERT_TRUE(model.recipients().Add("admin@example.com").added);
  ASSERT_EQ(store.Save(model.PrepareOk(fields), model.settings_changed_mask()), std::nullopt);
  ASSERT_EQ(store.Load(), std::nullopt);

  EmailPageModel reopened;
  EmailPageFields shown;
  reopened.Open(store.Snapshot(), shown);
  EXPECT_THAT(shown.setup, ElementsAre("25", "smtp.example.com", "", "", "0", "pw", ""));
  EXPECT_TRUE(shown.login_authentication);
  EXPECT_FALSE(shown.suppress_hard_disks_fail);
  EXPECT_TRUE(shown.suppress_device_removed);
  EXPECT_EQ(shown.subject_device_removed, "Gone");
  EXPECT_THAT(shown.contents_hard_disks_fail, ElementsAre("line 1", "line 2"));
  EXPECT_THAT(reopened.recipients().addresses(), ElementsAre("admin@example.com"));
}

}  // namespace
}  // namespace raid
