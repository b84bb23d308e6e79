// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows settings store on the real registry (Wine's, in the cross build), under a key of the
// test's own that is deleted afterwards.
#include "notify/windows/registry_settings_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "notify/mail_settings.h"
#include "notify/mail_templates.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Text in four scripts and a character outside the basic plane, which takes two UTF-16 units.
const std::string kNonAscii =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC \xD0\x96 \xF0\x9F\x98\x80";

class RegistrySettingsTest : public ::testing::Test {
 protected:
  RegistrySettingsTest()
      : key_path_("SOFTWARE\\QK_RAID_GUI_TEST_" + std::to_string(::GetCurrentProcessId())),
        wide_path_(key_path_.begin(), key_path_.end()) {}

  void SetUp() override { DeleteKey(); }
  void TearDown() override {
    DeleteKey();
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  std::unique_ptr<SettingsBackend> Backend() const {
    return MakeRegistrySettingsBackend(HKEY_LOCAL_MACHINE, key_path_);
  }
  void DeleteKey() const { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, wide_path_.c_str()); }
  bool KeyThere() const {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide_path_.c_str(), 0, KEY_READ, &key) != 0) {
      return false;
    }
    ::RegCloseKey(key);
    return true;
  }

  // Writes a value as another program (or an earlier version of this one) might have.
  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) const {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide_path_.c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
  }
  void SetRawString(const wchar_t* name, const std::wstring& text) const {
    SetRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  // The type and the bytes as stored; type 0 and nothing when the value is missing.
  std::pair<DWORD, Bytes> Raw(const wchar_t* name) const {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide_path_.c_str(), 0, KEY_READ, &key) != 0) {
      return {0, {}};
    }
    DWORD type = 0;
    DWORD size = 0;
    Bytes data;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      data.resize(size);
      ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
      data.resize(size);
    } else {
      type = 0;
    }
    ::RegCloseKey(key);
    return {type, data};
  }

  // A template folder with a name outside the ANSI code page, as FilePath text.
  std::string MakeTemplateFolder() {
    folder_ =
        fs::temp_directory_path() / fs::path(u8"raidgui-templates-\u00E4\u0416\u65E5-" +
                                             std::u8string(reinterpret_cast<const char8_t*>(
                                                 std::to_string(::GetCurrentProcessId()).c_str())));
    fs::create_directories(folder_);
    return PathToUtf8(folder_ / "");
  }

  std::string key_path_;
  std::wstring wide_path_;
  fs::path folder_;
};

TEST_F(RegistrySettingsTest, TypedValuesRoundTripAsTheRegistryTypesEarlierVersionsRead) {
  auto writer = Backend();
  ASSERT_TRUE(writer->CreateKey()) << writer->error();
  const Bytes bytes = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF, 0x00};
  ASSERT_TRUE(writer->WriteString("Text", kNonAscii));
  ASSERT_TRUE(writer->WriteString("Empty", ""));
  ASSERT_TRUE(writer->WriteString(kNonAscii, "named"));  // value names are UTF-8 as well
  ASSERT_TRUE(writer->WriteBinary("Bytes", bytes));
  ASSERT_TRUE(writer->WriteBinary("NoBytes", {}));
  ASSERT_TRUE(writer->WriteInteger("Zero", 0));
  ASSERT_TRUE(writer->WriteInteger("Most", 0xFFFFFFFFu));
  ASSERT_TRUE(writer->Commit()) << writer->error();

  auto reader = Backend();
  ASSERT_TRUE(reader->Refresh()) << reader->error();
  ASSERT_TRUE(reader->KeyExists());
  EXPECT_EQ(reader->ReadString("Text"), kNonAscii);
  EXPECT_EQ(reader->ReadString("Empty"), "");
  EXPECT_EQ(reader->ReadString(kNonAscii), "named");
  EXPECT_EQ(reader->ReadBinary("Bytes"), bytes);
  EXPECT_EQ(reader->ReadBinary("NoBytes"), Bytes{});
  EXPECT_EQ(reader->ReadInteger("Zero"), 0u);
  EXPECT_EQ(reader->ReadInteger("Most"), 0xFFFFFFFFu);

  // Missing values, and values of another type, read as nothing.
  EXPECT_EQ(reader->ReadString("Missing"), std::nullopt);
  EXPECT_EQ(reader->ReadBinary("Missing"), std::nullopt);
  EXPECT_EQ(reader->ReadInteger("Missing"), std::nullopt);
  EXPECT_EQ(reader->ReadString("Bytes"), std::nullopt);
  EXPECT_EQ(reader->ReadString("Most"), std::nullopt);
  EXPECT_EQ(reader->ReadBinary("Text"), std::nullopt);
  EXPECT_EQ(reader->ReadBinary("Zero"), std::nullopt);
  EXPECT_EQ(reader->ReadInteger("Text"), std::nullopt);
  EXPECT_EQ(reader->ReadInteger("Bytes"), std::nullopt);

  std::vector<std::string> names = reader->ValueNames();
  std::ranges::sort(names);
  std::vector<std::string> expected = {"Bytes", "Empty", "Most",   "NoBytes",
                                       "Text",  "Zero",  kNonAscii};
  std::ranges::sort(expected);
  EXPECT_EQ(names, expected);

  // Stored as REG_SZ with its terminator, REG_BINARY and REG_DWORD.
  const auto [text_type, text_data] = Raw(L"Text");
  EXPECT_EQ(text_type, static_cast<DWORD>(REG_SZ));
  const std::wstring wide = L"Gr\u00FC\u00DFe \u20AC \u65E5\u672C \u0416 \U0001F600";
  ASSERT_EQ(text_data.size(), (wide.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(text_data.data())), wide);
  EXPECT_EQ(Raw(L"Bytes"), std::make_pair(static_cast<DWORD>(REG_BINARY), bytes));
  EXPECT_EQ(Raw(L"Most"),
            std::make_pair(static_cast<DWORD>(REG_DWORD), Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

// Values put there by hand or by another program are read for what they hold, whatever size.
TEST_F(RegistrySettingsTest, ForeignValuesAreReadWithoutTrustingTheirSize) {
  const wchar_t unterminated[] = {L'a', L'b', L'c'};
  SetRaw(L"Unterminated", REG_SZ, unterminated, sizeof unterminated);
  const wchar_t early_end[] = {L'a', L'\0', L'b', L'\0'};
  SetRaw(L"EarlyEnd", REG_SZ, early_end, sizeof early_end);
  const std::wstring expand = L"%SystemRoot%\\x";
  SetRaw(L"Expand", REG_EXPAND_SZ, expand.c_str(),
         static_cast<DWORD>((expand.size() + 1) * sizeof(wchar_t)));
  const wchar_t multi[] = L"one\0two\0";
  SetRaw(L"Multi", REG_MULTI_SZ, multi, sizeof multi);
  const std::uint16_t half = 7;
  SetRaw(L"ShortDword", REG_DWORD, &half, sizeof half);
  const std::uint64_t wide_number = 5;
  SetRaw(L"Qword", REG_QWORD, &wide_number, sizeof wide_number);
  const std::wstring long_text(100000, L'\u00E9');
  SetRawString(L"Long", long_text);

  auto backend = Backend();
  ASSERT_TRUE(backend->Refresh()) << backend->error();
  EXPECT_EQ(backend->ReadString("Unterminated"), "abc");
  EXPECT_EQ(backend->ReadString("EarlyEnd"), "a");
  EXPECT_EQ(backend->ReadString("Expand"), "%SystemRoot%\\x");  // not expanded
  EXPECT_EQ(backend->ReadString("Multi"), std::nullopt);
  EXPECT_EQ(backend->ReadInteger("ShortDword"), std::nullopt);
  EXPECT_EQ(backend->ReadInteger("Qword"), std::nullopt);
  std::string long_utf8;
  for (std::size_t i = 0; i < long_text.size(); ++i)
    long_utf8 += "\xC3\xA9";
  EXPECT_EQ(backend->ReadString("Long"), long_utf8);
}

TEST_F(RegistrySettingsTest, KeyIsMadeOnlyWhenAskedAndRefreshFollowsOtherWriters) {
  auto backend = Backend();
  EXPECT_EQ(backend->Location(), "HKEY_LOCAL_MACHINE\\" + key_path_);
  // A missing key is no error: there are simply no settings.
  ASSERT_TRUE(backend->Refresh()) << backend->error();
  EXPECT_FALSE(backend->KeyExists());
  EXPECT_TRUE(backend->ValueNames().empty());
  EXPECT_EQ(backend->ReadString("Port"), std::nullopt);
  EXPECT_FALSE(backend->WriteString("Port", "25"));
  EXPECT_NE(backend->error().find(key_path_), std::string::npos) << backend->error();
  EXPECT_TRUE(backend->Commit());  // nothing to flush
  EXPECT_FALSE(KeyThere());

  ASSERT_TRUE(backend->CreateKey()) << backend->error();
  EXPECT_TRUE(KeyThere());
  EXPECT_TRUE(backend->KeyExists());
  ASSERT_TRUE(backend->WriteString("Port", "25"));
  ASSERT_TRUE(backend->Commit()) << backend->error();
  ASSERT_TRUE(backend->CreateKey());  // an existing key is opened, its values kept
  EXPECT_EQ(backend->ReadString("Port"), "25");

  // Another writer changes the value: a refresh reads the new one.
  SetRawString(L"Port", L"587");
  ASSERT_TRUE(backend->Refresh());
  EXPECT_EQ(backend->ReadString("Port"), "587");

  // The key deleted and made again meanwhile: the new one is read, not the deleted handle.
  DeleteKey();
  ASSERT_TRUE(backend->Refresh());
  EXPECT_FALSE(backend->KeyExists());
  EXPECT_EQ(backend->ReadString("Port"), std::nullopt);
  SetRawString(L"SMTP", L"mail.example.com");
  ASSERT_TRUE(backend->Refresh());
  EXPECT_TRUE(backend->KeyExists());
  EXPECT_EQ(backend->ReadString("SMTP"), "mail.example.com");
  EXPECT_EQ(backend->ValueNames(), std::vector<std::string>{"SMTP"});
}

TEST_F(RegistrySettingsTest, TheProgramsKeyAndTemplateFolderAreTheOnesEarlierVersionsUsed) {
  EXPECT_EQ(MakePlatformSettingsBackend()->Location(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\QK_RAID_GUI");
  const std::string folder = Backend()->DefaultTemplateFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(PathFromUtf8(folder), fs::path(std::wstring(system, length)) / "");
  EXPECT_TRUE(fs::is_directory(PathFromUtf8(folder)));
}

// The whole store on the registry: a key from an older version completed at start, a save from
// the E-mail page, and the load that follows it.
TEST_F(RegistrySettingsTest, StoreCompletesSavesAndLoadsTheKey) {
  std::atomic<std::uint8_t> flags{0};
  auto backend = Backend();
  MailSettingsStore store(*backend, flags);

  // No key: nothing to load, the templates default to the system folder, nothing is created.
  ASSERT_EQ(store.CheckAtStart(), std::nullopt);
  EXPECT_EQ(flags, 0);
  EXPECT_FALSE(store.Snapshot().key_exists);
  EXPECT_EQ(store.Snapshot().file_path, backend->DefaultTemplateFolder());
  EXPECT_FALSE(KeyThere());

  // An older version's key: the sender's address, no account, no suppression mask.
  const std::string folder = MakeTemplateFolder();
  SetRawString(L"Addr", L"r\u00E4id@example.com");
  SetRawString(L"FilePath", std::wstring(folder_.native()) + L"\\");
  ASSERT_EQ(store.CheckAtStart(), std::nullopt);
  EXPECT_EQ(flags, kMailRequestReload);
  EXPECT_EQ(Raw(L"UserID"), std::make_pair(static_cast<DWORD>(REG_SZ),
                                           Bytes{'r', 0, 0xE4, 0, 'i', 0, 'd', 0, 0, 0}));
  EXPECT_EQ(Raw(L"EMailSend"), std::make_pair(static_cast<DWORD>(REG_DWORD), Bytes{0, 0, 0, 0}));

  ASSERT_EQ(store.Load(), std::nullopt);
  EXPECT_EQ(flags, 0);
  MailSettings loaded = store.Snapshot();
  EXPECT_TRUE(loaded.loaded);
  EXPECT_EQ(loaded.Setting(kSettingAccount), "r\xC3\xA4id");
  EXPECT_EQ(loaded.file_path, folder);
  EXPECT_EQ(loaded.settings_list.size(), kSettingCount);

  MailSettingsEdits edits;
  edits.fields = {"587", "smtp.example.com", kNonAscii, "raid@example.com",
                  "30",  "s3cr\xC3\xA9t",    "raid"};
  edits.login_authentication = true;
  edits.suppress_device_removed = true;
  edits.recipients = {"admin@example.com", kNonAscii + "@example.com"};
  edits.subject_hard_disks_fail = "Disk " + kNonAscii;
  edits.contents_hard_disks_fail = {"Line one", "", "caf\xC3\xA9"};
  ASSERT_EQ(store.Save(edits, 0xFF), std::nullopt);
  EXPECT_EQ(flags, kMailRequestReload);

  // What other tools see in the key: the layout earlier versions wrote.
  EXPECT_EQ(Raw(L"ToAddrCount").first, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Raw(L"ToAddr_01").first, static_cast<DWORD>(REG_SZ));
  const auto [product_type, product_id] = Raw(L"ProductID");
  EXPECT_EQ(product_type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(product_id.size(), kProductIdSize);
  std::ostringstream subject;
  subject << std::ifstream(folder_ / "EmailSubject Hard Disks Fail.txt", std::ios::binary).rdbuf();
  EXPECT_EQ(subject.str(), "Disk " + kNonAscii + "\r\n");

  ASSERT_EQ(store.Load(), std::nullopt);
  loaded = store.Snapshot();
  EXPECT_TRUE(loaded.loaded);
  EXPECT_EQ(loaded.settings_list,
            std::vector<std::string>(edits.fields.begin(), edits.fields.end()));
  EXPECT_TRUE(loaded.LoginAuthentication());
  EXPECT_TRUE(loaded.Suppressed(AlertKind::kDeviceRemoved));
  EXPECT_FALSE(loaded.Suppressed(AlertKind::kHardDisksFail));
  EXPECT_EQ(loaded.recipients, edits.recipients);
  EXPECT_EQ(loaded.recipient_count, 2u);
  EXPECT_EQ(loaded.Subjects(AlertKind::kHardDisksFail),
            std::vector<std::string>{edits.subject_hard_disks_fail});
  EXPECT_EQ(loaded.Contents(AlertKind::kHardDisksFail), edits.contents_hard_disks_fail);
  EXPECT_TRUE(loaded.Subjects(AlertKind::kDeviceRemoved).empty());
}

// "ProductID" is only believed at its one size; the key byte of any other is not taken over.
TEST_F(RegistrySettingsTest, ProductIdOfTheWrongSizeIsNotTrusted) {
  MakeTemplateFolder();
  SetRawString(L"FilePath", std::wstring(folder_.native()) + L"\\");
  std::atomic<std::uint8_t> flags{0};
  auto backend = Backend();
  MailSettingsStore store(*backend, flags);

  const auto good = ScramblePassword("pw", true, 0x5C);
  for (const std::size_t size : {kProductIdSize - 1, kProductIdSize + 1, std::size_t{0}}) {
    Bytes stored(good.begin(), good.end());
    stored.resize(size, 0x00);
    SetRaw(L"ProductID", REG_BINARY, stored.data(), static_cast<DWORD>(stored.size()));
    ASSERT_EQ(store.Load(), std::nullopt);
    const MailSettings loaded = store.Snapshot();
    EXPECT_EQ(loaded.Setting(kSettingPassword), kErrorFormat) << size;
    EXPECT_EQ(loaded.auth_status, kAuthUnreadable) << size;
    EXPECT_FALSE(loaded.LoginAuthentication()) << size;
    EXPECT_EQ(loaded.key_byte, 0) << size;
  }

  // A text where the bytes belong is no password at all, and no login; it is named.
  SetRawString(L"ProductID", L"pw");
  const std::optional<std::string> named = store.Load();
  ASSERT_TRUE(named.has_value());
  EXPECT_NE(named->find("the value ProductID should be bytes"), std::string::npos) << *named;
  EXPECT_EQ(store.Snapshot().Setting(kSettingPassword), "");
  EXPECT_EQ(store.Snapshot().auth_status, kAuthOff);

  SetRaw(L"ProductID", REG_BINARY, good.data(), static_cast<DWORD>(good.size()));
  ASSERT_EQ(store.Load(), std::nullopt);
  EXPECT_EQ(store.Snapshot().Setting(kSettingPassword), "pw");
  EXPECT_TRUE(store.Snapshot().LoginAuthentication());
  EXPECT_EQ(store.Snapshot().key_byte, 0x5C);
}

}  // namespace
}  // namespace raid
