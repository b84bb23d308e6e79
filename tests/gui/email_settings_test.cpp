// SPDX-License-Identifier: GPL-2.0-or-later
// The E-mail page in the real window on the offscreen platform: settings kept in the platform's
// store (a settings.toml of a temporary folder; a registry key of the test's own under
// HKEY_CURRENT_USER on Windows), a made-up host description, and an SMTP client that accepts every
// mail without a network.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/tform1.h"
#include "gui/email/email_page.h"
#include "gui/widgets/message_boxes.h"
#include "gui/widgets/two_state_image_button.h"
#include "notify/mail_templates.h"
#ifdef _WIN32
#include <windows.h>

#include "notify/windows/registry_settings_backend.h"
#else
#include "notify/linux/toml_settings_backend.h"
#endif
#include "sim_host.h"
#include "support/fake_smtp_client.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Button = ui::TwoStateImageButton;

constexpr double kSpeed = 20.0;

const std::vector<std::string> kSystemInfo = {
    "\n=========== [System Information] ==============",
    "\nMotherBoard : Acme - B450",
    "\nSystem Name : RAIDHOST",
    "\nIP Address  : 192.0.2.7, 2001:db8::7",
    "\n===============================================",
};

// A message box as the user reads it: caption and text.
using Shown = std::pair<std::string, std::string>;
const Shown kFormulaError{"E-Mail Message", "E-Mail Address formula error!"};
const Shown kChanged{"E-Mail Message",
                     "E-Mail setting was changed, please click \"OK\" or \"Ignore\" button first!"};
const Shown kNotReady{"E-Mail Message", "E-Mail setting isn't ready!"};
const Shown kSuccess{"E-Mail Message", "Send mail Success!"};

class EmailSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "log");
    ui::AnswerMessageBoxesWith([this](const MessageBoxRequest& request) {
      messages_.emplace_back(request.caption, request.text);
      return QMessageBox::Ok;
    });
  }
  void TearDown() override {
    form_.reset();
    ui::AnswerMessageBoxesWith(nullptr);
    ForgetStore();
  }

  // The window on one enclosure, its page buttons usable.
  void Open() {
    sim::Scenario scenario;
    scenario.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
    scenario.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
    host_ = std::make_unique<sim::SimHost>(std::move(scenario), clock_);
    WindowOptions options;
    options.log_folder = folder_ / "log";
    options.speed = kSpeed;
    options.kernel_device_events = false;
    options.settings_backend = [this] { return Store(); };
    options.system_info = [] { return kSystemInfo; };
    options.smtp_client = [this]() -> std::unique_ptr<SmtpClient> {
      auto client = std::make_unique<testing::FakeSmtpClient>();
      if (silent_server_) client->FallSilentAt(testing::FakeSmtpClient::Silence::kAtConnect);
      client_ = client.get();
      return client;
    };
    form_ = std::make_unique<TForm1>(*host_, clock_, options);
    form_->show();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !form_->core().state().detection.initial.load(); }, 5000));
  }
  fs::path SettingsFolder() const { return folder_ / "settings"; }

#ifdef _WIN32
  // The registry store on a key of this test's own, gone after each test; its template files go
  // to the test's folder, not to the system folder other programs' tests use.
  class TestRegistryStore : public SettingsBackend {
   public:
    TestRegistryStore(const std::string& key, std::string templates)
        : store_(MakeRegistrySettingsBackend(HKEY_CURRENT_USER, key)),
          templates_(std::move(templates)) {}
    bool Refresh() override { return store_->Refresh(); }
    bool KeyExists() override { return store_->KeyExists(); }
    bool CreateKey() override { return store_->CreateKey(); }
    std::vector<std::string> ValueNames() override { return store_->ValueNames(); }
    std::optional<std::string> ReadString(std::string_view name) override {
      return store_->ReadString(name);
    }
    std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) override {
      return store_->ReadBinary(name);
    }
    std::optional<std::uint32_t> ReadInteger(std::string_view name) override {
      return store_->ReadInteger(name);
    }
    bool WriteString(std::string_view name, std::string_view value) override {
      return store_->WriteString(name, value);
    }
    bool WriteBinary(std::string_view name, std::span<const std::uint8_t> value) override {
      return store_->WriteBinary(name, value);
    }
    bool WriteInteger(std::string_view name, std::uint32_t value) override {
      return store_->WriteInteger(name, value);
    }
    bool Commit() override { return store_->Commit(); }
    const std::string& error() const override { return store_->error(); }
    std::string Location() const override { return store_->Location(); }
    std::string DefaultTemplateFolder() const override { return templates_; }

   private:
    std::unique_ptr<SettingsBackend> store_;
    std::string templates_;
  };
  std::string Key() const {
    return "SOFTWARE\\raidgui-tests\\email-" + folder_.path().filename().string();
  }
  std::unique_ptr<SettingsBackend> Store() const {
    return std::make_unique<TestRegistryStore>(Key(), PathToUtf8(folder_ / ""));
  }
  bool NothingSaved() const {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, Key().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return true;
    ::RegCloseKey(key);
    return false;
  }
  void ForgetStore() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, Key().c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\raidgui-tests");  // when no other test has one
  }
#else
  std::unique_ptr<SettingsBackend> Store() const {
    return MakeTomlSettingsBackend(SettingsFolder());
  }
  bool NothingSaved() const {
    return !fs::exists(SettingsFolder() / "settings.toml");
  }
  void ForgetStore() {}
#endif

  template <typename T = QWidget>
  T* Find(const char* name) {
    T* widget = form_->email_page()->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Click(const char* button) {
    QTest::mouseClick(Find<Button>(button), Qt::LeftButton);
  }
  void Type(const char* edit, const QString& text) {
    QLineEdit* field = Find<QLineEdit>(edit);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
  }
  QString Text(const char* edit) {
    return Find<QLineEdit>(edit)->text();
  }
  // Both grids' filled rows; they must agree.
  std::vector<std::string> GridRows() {
    std::vector<std::string> rows[2];
    const char* names[2] = {"StringGrid1", "StringGrid2"};
    for (int grid = 0; grid < 2; ++grid) {
      const QTableWidget* table = Find<QTableWidget>(names[grid]);
      for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* cell = table->item(row, 0);
        if (cell != nullptr && !cell->text().isEmpty())
          rows[grid].push_back(cell->text().toStdString());
      }
    }
    EXPECT_EQ(rows[0], rows[1]);
    return rows[0];
  }
  void ClickRow(const char* grid, int row) {
    QTableWidget* table = Find<QTableWidget>(grid);
    const QRect cell = table->visualItemRect(table->item(row, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  }
  // Fills the Setup sub-page and presses OK, then waits for the e-mail worker's reload.
  void SaveSetup() {
    form_->Image_EmailClick();
    Type("Edit2", "smtp.example.com");
    Type("Edit4", "raid@example.com");
    Click("Image3_OK");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form_->mail_settings().Snapshot().loaded; }, 5000));
  }

  testing::TempFolder folder_{"raidgui-email-"};
  ScaledClock clock_{kSpeed};
  testing::FakeSmtpClient* client_ = nullptr;  // the window's, from Open on
  std::unique_ptr<sim::SimHost> host_;
  std::unique_ptr<TForm1> form_;
  std::vector<Shown> messages_;
  bool silent_server_ = false;
};

TEST_F(EmailSettingsTest, BeforeAnySaveThePageShowsTheDefaultsAndNoLoginFields) {
  Open();
  form_->Image_EmailClick();
  EXPECT_EQ(form_->CurrentPage(), kEmailPage);
  EXPECT_EQ(Text("Edit1"), "25");
  EXPECT_EQ(Text("Edit5"), "0");
  EXPECT_FALSE(Find<QCheckBox>("CheckBox8")->isChecked());
  for (const char* name : {"Edit8", "Edit12", "Caption_Account", "Caption_Password"})
    EXPECT_FALSE(Find(name)->isVisibleTo(form_->email_page())) << name;
  EXPECT_THAT(GridRows(), IsEmpty());

  // Ticking the box shows them; the page's own defaults are no change of the user's.
  Find<QCheckBox>("CheckBox8")->click();
  for (const char* name : {"Edit8", "Edit12", "Caption_Account", "Caption_Password"})
    EXPECT_TRUE(Find(name)->isVisible()) << name;
  EXPECT_EQ(form_->email_page()->SettingsChangedMask(), 0);

  // Nothing stored yet: a test mail cannot go anywhere.
  Click("Image3_Test");
  EXPECT_THAT(messages_, ElementsAre(kNotReady));
  EXPECT_TRUE(NothingSaved());
}

TEST_F(EmailSettingsTest, RecipientsAreAddedCheckedSelectedAndRemovedOnBothSubPages) {
  Open();
  form_->Image_EmailClick();
  Click("Image3_HDDFail");
  Type("Edit7", "@");
  Click("Image3_1P");
  EXPECT_THAT(GridRows(), ElementsAre("@"));
  EXPECT_EQ(Text("Edit7"), "");
  EXPECT_THAT(messages_, IsEmpty());

  Type("Edit7", "admin.example.com");
  Click("Image3_1P");
  EXPECT_THAT(messages_, ElementsAre(kFormulaError));
  EXPECT_EQ(Text("Edit7"), "");
  EXPECT_THAT(GridRows(), ElementsAre("@"));

  // An empty row: selecting it shows nothing, removing it removes nothing.
  ClickRow("StringGrid1", 4);
  Click("Image3_1M");
  EXPECT_THAT(GridRows(), ElementsAre("@"));

  // The other sub-page edits the same list.
  Click("Image3_DeviceRemove");
  for (int i = 1; i < 10; ++i) {
    Type("Edit6", QStringLiteral("user%1@example.com").arg(i));
    Click("Image3_2P");
  }
  ASSERT_EQ(GridRows().size(), 10U);
  Type("Edit6", "eleventh@example.com");
  Click("Image3_2P");
  EXPECT_EQ(Text("Edit6"), "eleventh@example.com");
  EXPECT_EQ(GridRows().size(), 10U);
  EXPECT_THAT(messages_, ElementsAre(kFormulaError));

  ClickRow("StringGrid2", 3);
  EXPECT_EQ(Text("Edit6"), "user3@example.com");
  Click("Image3_2M");
  EXPECT_EQ(Text("Edit6"), "");
  const std::vector<std::string> rows = GridRows();
  ASSERT_EQ(rows.size(), 9U);
  EXPECT_EQ(rows[2], "user2@example.com");
  EXPECT_EQ(rows[3], "user4@example.com");
  // Recipients mark nothing for the Test button; only OK stores them.
  EXPECT_EQ(form_->email_page()->SettingsChangedMask(), 0);
}

// Besides the "@", an address may hold no control character, blank or angle bracket; blanks
// around it go. A host that would change the URL is refused at OK, and the password keeps to 15
// bytes of whole characters.
TEST_F(EmailSettingsTest, EntriesAreCheckedWhereTheyAreTyped) {
  Open();
  form_->Image_EmailClick();
  Click("Image3_HDDFail");
  for (const QString& refused : {QStringLiteral("a b@example.com"),
                                 QStringLiteral("<ops@example.com>"), QStringLiteral("a\tb@x")}) {
    Find<QLineEdit>("Edit7")->setText(refused);  // pasted
    Click("Image3_1P");
  }
  EXPECT_THAT(messages_, ElementsAre(kFormulaError, kFormulaError, kFormulaError));
  Type("Edit7", "  ops@example.com ");
  Click("Image3_1P");
  EXPECT_THAT(GridRows(), ElementsAre("ops@example.com"));

  Click("Image3_Setup");
  Find<QCheckBox>("CheckBox8")->click();
  // Pasted: nine characters of two bytes each.
  Find<QLineEdit>("Edit8")->insert(QString(9, QChar(0xE9)));
  EXPECT_EQ(Text("Edit8").toUtf8().size(), 14) << "7 whole characters of two bytes";
  Type("Edit2", "smtp.example.com/evil");
  messages_.clear();
  Click("Image3_OK");
  ASSERT_EQ(messages_.size(), 1U);
  EXPECT_THAT(messages_[0].second,
              ::testing::HasSubstr("not saved: the e-mail host \"smtp.example.com/evil\" cannot be "
                                   "used: it holds \"/\""));
  EXPECT_EQ(Text("Edit2"), "smtp.example.com/evil");
  EXPECT_TRUE(NothingSaved());
}

TEST_F(EmailSettingsTest, OkSavesTheDefaultsOfAnEmptyPortAndTimeOut) {
  Open();
  form_->Image_EmailClick();
  Type("Edit2", "smtp.example.com");
  Find<QLineEdit>("Edit1")->clear();
  Find<QLineEdit>("Edit5")->clear();
  Click("Image3_HDDFail");
  Type("Edit7", "admin@example.com");
  Click("Image3_1P");
  Type("Edit10", "Disk failed");
  Click("Image3_OK");
  EXPECT_THAT(messages_, IsEmpty());
  EXPECT_EQ(Text("Edit1"), "25");
  EXPECT_EQ(Text("Edit5"), "0");
  EXPECT_EQ(form_->email_page()->SettingsChangedMask(), 0);

  // What another program start would read.
  std::unique_ptr<SettingsBackend> backend = Store();
  std::atomic<std::uint8_t> flags{0};
  MailSettingsStore store(*backend, flags);
  ASSERT_EQ(store.CheckAtStart(), std::nullopt);
  ASSERT_EQ(store.Load(), std::nullopt);
  const MailSettings saved = store.Snapshot();
  EXPECT_EQ(saved.Setting(kSettingPort), "25");
  EXPECT_EQ(saved.Setting(kSettingTimeOut), "0");
  EXPECT_EQ(saved.Setting(kSettingHost), "smtp.example.com");
  EXPECT_THAT(saved.recipients, ElementsAre("admin@example.com"));
  EXPECT_THAT(saved.Subjects(AlertKind::kHardDisksFail), ElementsAre("Disk failed"));
}

TEST_F(EmailSettingsTest, TestIsRefusedAfterAPasswordEditButNotAfterTickingTheLoginBox) {
  Open();
  ASSERT_NO_FATAL_FAILURE(SaveSetup());
  messages_.clear();

  Click("Image3_Setup");
  Find<QCheckBox>("CheckBox8")->click();
  Click("Image3_Test");
  // Asked, not refused: the e-mail worker sends it to the sender's own address.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages_.empty(); }, 5000));
  EXPECT_THAT(messages_, ElementsAre(kSuccess));
  ASSERT_EQ(client_->sent.size(), 1U);
  EXPECT_THAT(client_->sent.front().recipients, ElementsAre("raid@example.com"));

  messages_.clear();
  Type("Edit8", "secret");
  Click("Image3_Test");
  EXPECT_THAT(messages_, ElementsAre(kChanged));
  QTest::qWait(300);
  EXPECT_EQ(client_->sent.size(), 1U);
}

// Closing while a test mail waits for a server that never answers: the mail is given up after a
// grace, without a box, and the window ends instead of waiting for the mail's time-out.
TEST_F(EmailSettingsTest, ClosingGivesUpAMailThatASilentServerHolds) {
  silent_server_ = true;
  Open();
  ASSERT_NO_FATAL_FAILURE(SaveSetup());
  messages_.clear();
  Click("Image3_Test");
  QTest::qWait(200);
  EXPECT_TRUE(form_->close());
  EXPECT_TRUE(form_->WorkersStopped());
  EXPECT_THAT(messages_, IsEmpty());
}

TEST_F(EmailSettingsTest, IgnoreRestoresTheStoredFieldsButKeepsATickedSuppressionBox) {
  Open();
  form_->Image_EmailClick();
  Type("Edit2", "typed.example.com");
  Click("Image3_Ignore");
  // Nothing stored: only the defaults come back, the rest stays as typed.
  EXPECT_EQ(Text("Edit2"), "typed.example.com");
  EXPECT_EQ(form_->email_page()->SettingsChangedMask(), 0);

  ASSERT_NO_FATAL_FAILURE(SaveSetup());
  Click("Image3_HDDFail");
  Find<QCheckBox>("CheckBox2")->click();
  Type("Edit7", "ops@example.com");
  Click("Image3_1P");
  Click("Image3_Setup");
  Type("Edit2", "other.example.com");
  Type("Edit1", "2525");
  Click("Image3_Ignore");

  EXPECT_EQ(Text("Edit2"), "smtp.example.com");
  EXPECT_EQ(Text("Edit1"), "25");
  EXPECT_TRUE(Find<QCheckBox>("CheckBox2")->isChecked());
  EXPECT_THAT(GridRows(), IsEmpty());
  EXPECT_EQ(form_->email_page()->SettingsChangedMask(), 0);
  // The tick was never stored.
  EXPECT_FALSE(form_->mail_settings().Snapshot().Suppressed(AlertKind::kHardDisksFail));
}

TEST_F(EmailSettingsTest, OkAndIgnoreSinkWhilePressed) {
  Open();
  form_->Image_EmailClick();
  for (const char* name : {"Image3_OK", "Image3_Ignore"}) {
    Button* button = Find<Button>(name);
    const QPoint at = button->pos();
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_EQ(button->pos(), at + QPoint(0, 2)) << name;
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(button->pos(), at) << name;
  }
}

TEST_F(EmailSettingsTest, DoubleClickOnTheStatusBarShowsTheSystemInformation) {
  Open();
  QTest::mouseDClick(form_->statusBar(), Qt::LeftButton);
  EXPECT_THAT(messages_, ElementsAre(Shown{"System Information",
                                           "\n=========== [System Information] =============="
                                           "\nMotherBoard : Acme - B450\nSystem Name : RAIDHOST"
                                           "\nIP Address  : 192.0.2.7, 2001:db8::7"
                                           "\n==============================================="}));
}

// The three sub-pages with settings in every field, for a person to look at:
// email-pages/<sub-page>.png in the temporary folder.
TEST_F(EmailSettingsTest, PicturesOfTheFilledSubPages) {
  Open();
  form_->Image_EmailClick();
  Type("Edit2", "smtp.example.com");
  Type("Edit3", "RAID monitor");
  Type("Edit4", "raid-monitor@example.com");
  Type("Edit5", "30");
  Find<QCheckBox>("CheckBox8")->click();
  Type("Edit12", "raid-monitor");
  Type("Edit8", "secret");
  Click("Image3_HDDFail");
  for (int i = 0; i < 10; ++i) {
    Type("Edit7", QStringLiteral("recipient%1@example.com").arg(i));
    Click("Image3_1P");
  }
  Type("Edit10", "Drive failure");
  Find<QPlainTextEdit>("Memo6")->setPlainText("Please replace the failed drive.\nRoom 4");
  Type("Edit11", "Enclosure removed");
  Find<QPlainTextEdit>("Memo4")->setPlainText("Check the cable.");
  Find<QCheckBox>("CheckBox4")->click();
  EXPECT_THAT(messages_, IsEmpty());

  const fs::path pictures = fs::temp_directory_path() / "email-pages";
  fs::create_directories(pictures);
  const char* names[] = {"setup", "hdd_fail", "device_remove"};
  for (unsigned sub_page = 0; sub_page < 3; ++sub_page) {
    form_->email_page()->ShowSubPage(sub_page);
    QTest::qWait(50);  // the sub-page lays itself out
    const QPixmap picture = form_->grab();
    EXPECT_TRUE(
        picture.save(QString::fromStdString((pictures / names[sub_page]).string() + ".png")))
        << names[sub_page];
  }
}

// A save that fails keeps the edits marked as unsaved: the test mail waits for a save that works.
TEST_F(EmailSettingsTest, FailedSaveIsShownAndKeepsTheEditsUnsaved) {
#ifdef _WIN32
  GTEST_SKIP() << "a settings file that cannot be written or read is the Linux store's";
#endif
  std::ofstream(SettingsFolder()) << "a file where the settings folder should be";
  Open();
  messages_.clear();
  form_->Image_EmailClick();
  Type("Edit2", "smtp.example.com");
  Type("Edit4", "raid@example.com");
  Click("Image3_OK");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, "E-Mail Message");
  EXPECT_THAT(messages_[0].second, ::testing::HasSubstr("Cannot save the mail settings"));
  Click("Image3_Test");
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1], kChanged);
  EXPECT_THAT(client_->sent, IsEmpty());

  // A settings file that does not parse is named with its line and never written over.
  fs::remove(SettingsFolder());
  fs::create_directories(SettingsFolder());
  std::ofstream(SettingsFolder() / "settings.toml") << "SMTP = \"mail\nPort = \"25\"\n";
  Click("Image3_OK");
  ASSERT_EQ(messages_.size(), 3u);
  EXPECT_THAT(messages_[2].second, ::testing::HasSubstr("settings.toml line 1"));
  EXPECT_EQ(Text("Edit2"), "smtp.example.com");
  std::ostringstream kept;
  kept << std::ifstream(SettingsFolder() / "settings.toml").rdbuf();
  EXPECT_EQ(kept.str(), "SMTP = \"mail\nPort = \"25\"\n");
}

}  // namespace
}  // namespace raid
