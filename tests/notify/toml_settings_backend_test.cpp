// SPDX-License-Identifier: GPL-2.0-or-later
// The Linux settings file on a real file system.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "common/toml.h"

#include "notify/linux/toml_settings_backend.h"
#include "notify/mail_settings.h"
#include "notify/mail_templates.h"
#include "support/other_user.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

class TomlSettingsTest : public ::testing::Test {
 protected:
  fs::path File() const { return folder_ / "settings.toml"; }
  std::string FileBytes() const {
    std::ostringstream bytes;
    bytes << std::ifstream(File(), std::ios::binary).rdbuf();
    return bytes.str();
  }
  static mode_t ModeOf(const fs::path& path) {
    struct stat facts {};
    EXPECT_EQ(::stat(path.c_str(), &facts), 0);
    return facts.st_mode & 07777;
  }

  testing::TempFolder root_{"raidgui-settings-test-"};
  fs::path folder_ = root_ / "config" / "raidgui";
};

TEST_F(TomlSettingsTest, TypedValuesSurviveAReloadAndUnknownOnesAreKept) {
  fs::create_directories(folder_);
  // Keys with quotes, tabs and line feeds, which this toml++'s own writer would leave bare.
  const std::string unknown =
      "Extra = { nested = [1, 2] }\nHex = \"00ff10\"\nBig = [256]\n\"'''Addr\" = nan\n"
      "\"a\\tb\\nc\" = { \"it's\" = [ { when = 1979-05-27T07:32:00Z } ], \"\" = {} }\n"
      "[[list]]\n'x\"y' = 0x7F\n";
  std::ofstream(File()) << unknown;
  auto backend = MakeTomlSettingsBackend(folder_);
  ASSERT_TRUE(backend->Refresh()) << backend->error();
  const std::vector<std::uint8_t> bytes = {0, 1, 254, 255};
  // This toml++ would write a text that starts with a line break as a multi-line string and
  // lose that break on reading.
  const std::string text = "\nline \"two\"\r\n\t\xC3\xA4\x01";
  ASSERT_TRUE(backend->WriteString("Text", text));
  ASSERT_TRUE(backend->WriteBinary("Bytes", bytes));
  ASSERT_TRUE(backend->WriteInteger("Count", 4294967295u));
  EXPECT_FALSE(backend->WriteString("Broken", "\xFF"));  // would be written mangled
  ASSERT_TRUE(backend->Commit()) << backend->error();

  auto reader = MakeTomlSettingsBackend(folder_);
  ASSERT_TRUE(reader->Refresh()) << reader->error();
  EXPECT_EQ(reader->ReadString("Text"), text);
  EXPECT_EQ(reader->ReadBinary("Bytes"), bytes);
  EXPECT_EQ(reader->ReadInteger("Count"), 4294967295u);
  EXPECT_EQ(reader->ReadBinary("Hex"), (std::vector<std::uint8_t>{0x00, 0xFF, 0x10}));
  EXPECT_EQ(reader->ReadBinary("Big"), std::nullopt);
  EXPECT_EQ(reader->ReadString("Count"), std::nullopt);  // types are kept apart
  EXPECT_EQ(reader->ReadInteger("Bytes"), std::nullopt);
  EXPECT_NE(FileBytes().find("nested = [ 1, 2 ]"), std::string::npos);
  const toml::table kept = toml::parse_file(File().string());
  const toml::table before = toml::parse(unknown);
  for (const auto& [key, value] : before) {
    if (key != "'''Addr") {
      EXPECT_EQ(kept[key.str()], before[key.str()]) << key.str();
    }
  }
  EXPECT_TRUE(kept["'''Addr"].is_floating_point());  // a NaN equals nothing
}

TEST_F(TomlSettingsTest, FolderAndFileAreTheOwnersOnly) {
  auto backend = MakeTomlSettingsBackend(folder_);
  std::atomic<std::uint8_t> flags{0};
  MailSettingsStore settings(*backend, flags);
  const mode_t saved_umask = ::umask(0);  // the modes are ours, not the umask's
  MailSettingsEdits edits;
  edits.subject_device_removed = "Gone";
  const std::optional<std::string> problem = settings.Save(edits, 0);
  ::umask(saved_umask);
  ASSERT_EQ(problem, std::nullopt);
  EXPECT_EQ(ModeOf(folder_), 0700u);
  EXPECT_EQ(ModeOf(File()), 0600u);
  // The templates live beside the file, as the user's own.
  EXPECT_EQ(ModeOf(folder_ / "EmailSubject Device Removed.txt"), 0600u);
  ASSERT_EQ(settings.Save(edits, 0xFF), std::nullopt);
  EXPECT_EQ(ModeOf(File()), 0600u);
  EXPECT_FALSE(fs::exists(folder_ / "settings.toml.new"));

  // A file someone made readable to others (an editor, a copy) is owner-only again before the
  // next save puts the password in; a folder that was there already stays as it is.
  ASSERT_EQ(::chmod(File().c_str(), 0644), 0);
  ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);
  ASSERT_EQ(settings.Save(edits, 0xFF), std::nullopt);
  EXPECT_EQ(ModeOf(File()), 0600u);
  EXPECT_EQ(ModeOf(folder_), 0755u);
}

// What a save killed before its rename leaves: the previous file (or, for the first save, the
// empty owner-only one made before anything went in) and a half-written file beside it.
TEST_F(TomlSettingsTest, HalfWrittenFileOfAKilledSaveIsIgnoredAndReplaced) {
  const fs::path stale = folder_ / "settings.toml.new";
  fs::create_directories(folder_);
  const int empty = ::open(File().c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(empty, 0);
  ::close(empty);
  std::ofstream(stale) << "Port = \"58";
  ASSERT_EQ(::chmod(stale.c_str(), 0644), 0);

  auto backend = MakeTomlSettingsBackend(folder_);
  std::atomic<std::uint8_t> flags{0};
  MailSettingsStore store(*backend, flags);
  // The first save never finished: no settings, and nothing to complain about.
  EXPECT_EQ(store.CheckAtStart(), std::nullopt);
  EXPECT_EQ(flags, 0);
  EXPECT_FALSE(store.Snapshot().key_exists);
  EXPECT_EQ(FileBytes(), "");

  MailSettingsEdits edits;
  edits.fields[kSettingPort] = "587";
  edits.recipients = {"admin@example.com"};
  ASSERT_EQ(store.Save(edits, 0), std::nullopt);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_EQ(ModeOf(File()), 0600u);
  const std::string saved = FileBytes();

  // A later save killed the same way: the settings of the one before are read whole.
  std::ofstream(stale) << saved.substr(0, saved.size() / 2);
  auto restarted = MakeTomlSettingsBackend(folder_);
  MailSettingsStore after_restart(*restarted, flags);
  EXPECT_EQ(after_restart.CheckAtStart(), std::nullopt);
  ASSERT_EQ(after_restart.Load(), std::nullopt);
  EXPECT_EQ(after_restart.Snapshot().Setting(kSettingPort), "587");
  EXPECT_EQ(after_restart.Snapshot().recipients, std::vector<std::string>{"admin@example.com"});
  EXPECT_EQ(FileBytes(), saved);  // the key was complete: nothing to add at start
  edits.fields[kSettingPort] = "465";
  ASSERT_EQ(after_restart.Save(edits, kChangedPort), std::nullopt);
  EXPECT_FALSE(fs::exists(stale));
  ASSERT_EQ(after_restart.Load(), std::nullopt);
  EXPECT_EQ(after_restart.Snapshot().Setting(kSettingPort), "465");
}

TEST_F(TomlSettingsTest, UnparsableFileIsReportedWithItsLineAndNeverWrittenOver) {
  fs::create_directories(folder_);
  const std::string broken = "Port = \"25\"\nSMTP = \"mail\"\nAddr = = \"x\"\n";
  std::ofstream(File()) << broken;
  auto backend = MakeTomlSettingsBackend(folder_);
  std::atomic<std::uint8_t> flags{0};
  MailSettingsStore store(*backend, flags);
  const std::optional<std::string> problem = store.CheckAtStart();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find(File().string() + " line 3: "), std::string::npos) << *problem;
  EXPECT_EQ(flags, 0);  // treated as absent: no load to fail again
  EXPECT_FALSE(store.Snapshot().key_exists);
  flags = kMailRequestReload;
  EXPECT_TRUE(store.Load().has_value());
  EXPECT_EQ(flags, 0);
  EXPECT_TRUE(store.Snapshot().settings_list.empty());  // nothing half-read
  EXPECT_EQ(FileBytes(), broken);

  // A save would keep only what it writes: it refuses, naming the line, until the file is fixed.
  MailSettingsEdits edits;
  edits.fields[kSettingPort] = "587";
  const std::optional<std::string> refused = store.Save(edits, kChangedPort);
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find("not saved: " + File().string() + " line 3: "), std::string::npos)
      << *refused;
  EXPECT_EQ(FileBytes(), broken);
  std::ofstream(File()) << "Port = \"25\"\nSMTP = \"mail\"\nAddr = \"x@example.org\"\n";
  ASSERT_EQ(store.Save(edits, kChangedPort), std::nullopt);
  ASSERT_EQ(store.Load(), std::nullopt);
  EXPECT_EQ(store.Snapshot().Setting(kSettingPort), "587");

  // A letter toml++ 3.3 took into an unreachable branch (the sanitizer builds stop on it).
  std::ofstream(File()) << "Port = \"25\"\nSMTP\xC3\xBC = \"mail\"\n";
  EXPECT_FALSE(backend->Refresh());
  EXPECT_NE(backend->error().find(" line 2: "), std::string::npos) << backend->error();
}

// "Port = 2525" by hand: named once, unused, and no save writes over it until it is fixed.
TEST_F(TomlSettingsTest, AValueOfTheWrongTypeIsNamedUnusedAndBlocksASave) {
  fs::create_directories(folder_);
  const std::string typed = "Port = 2525\nSMTP = \"mail\"\nToAddrCount = \"1\"\n";
  std::ofstream(File()) << typed;
  auto backend = MakeTomlSettingsBackend(folder_);
  std::atomic<std::uint8_t> flags{0};
  MailSettingsStore store(*backend, flags);
  store.CheckAtStart();
  const std::optional<std::string> problem = store.Load();
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find(File().string() +
                          ": the value Port should be text, the value ToAddrCount should be a "
                          "whole number"),
            std::string::npos)
      << *problem;
  EXPECT_EQ(store.Snapshot().Setting(kSettingPort), "");
  EXPECT_EQ(store.Snapshot().Setting(kSettingHost), "mail");
  MailSettingsEdits edits;
  edits.fields[kSettingHost] = "mail";
  EXPECT_TRUE(store.Save(edits, kChangedHost).has_value());
  EXPECT_NE(FileBytes().find("Port = 2525"), std::string::npos);
}

TEST_F(TomlSettingsTest, PathsThatAreNoRegularFilesFailWithoutBlocking) {
  fs::create_directories(folder_);
  ASSERT_EQ(::mkfifo((folder_ / "EmailSubject Fan Fail.txt").c_str(), 0600), 0);
  auto backend = MakeTomlSettingsBackend(folder_);
  std::atomic<std::uint8_t> flags{0};
  MailSettingsStore store(*backend, flags);
  MailSettingsEdits edits;
  ASSERT_EQ(store.Save(edits, 0), std::nullopt);
  const std::optional<std::string> problem = store.Load();  // would hang opening the FIFO
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("is not a regular file (a FIFO)"), std::string::npos) << *problem;
  EXPECT_TRUE(store.Snapshot().loaded);

  fs::remove(File());
  ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
  EXPECT_FALSE(backend->Refresh());
  EXPECT_NE(backend->error().find("a FIFO"), std::string::npos);
}

// The password must never land in a file others can read or that another user chose: a link
// of our own is followed (a dangling one makes an owner-only file), one that another user could
// have made is refused.
TEST_F(TomlSettingsTest, SettingsGoThroughOurOwnLinksOnlyAndNeverToAFileOthersRead) {
  fs::create_directories(folder_);
  fs::create_directories(root_ / "kept");
  fs::create_symlink(root_ / "kept" / "settings.toml", File());
  auto backend = MakeTomlSettingsBackend(folder_);
  std::atomic<std::uint8_t> flags{0};
  MailSettingsStore settings(*backend, flags);
  MailSettingsEdits edits;
  edits.fields[kSettingPort] = "587";
  const mode_t saved_umask = ::umask(022);
  const std::optional<std::string> problem = settings.Save(edits, kChangedPort);
  ::umask(saved_umask);
  ASSERT_EQ(problem, std::nullopt);
  EXPECT_TRUE(fs::is_symlink(File()));
  EXPECT_EQ(ModeOf(root_ / "kept" / "settings.toml"), 0600u);

  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to plant another user's link";
  const fs::path victim = root_ / "victim";
  // Settings of root's own, so that the save gets as far as writing.
  std::ofstream(victim) << "Port = \"25\"\n";
  ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
  fs::remove(File());
  ASSERT_TRUE(testing::PlantOthersLink(victim, File()));
  const std::optional<std::string> refused = settings.Save(edits, kChangedPort);
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find(File().string() + " is a symbolic link owned by another user"),
            std::string::npos)
      << *refused;
  EXPECT_EQ(ModeOf(victim), 0644u);
  std::ostringstream kept;
  kept << std::ifstream(victim).rdbuf();
  EXPECT_EQ(kept.str(), "Port = \"25\"\n");
}

// A process killed at any moment of a save leaves one whole save's settings.
TEST_F(TomlSettingsTest, KillDuringASaveLeavesTheFormerSettingsWhole) {
  const auto edits_for = [](int round) {
    MailSettingsEdits edits;
    edits.fields.fill(std::to_string(round));
    edits.fields[kSettingHost] = std::string(200000, 'h') + std::to_string(round);
    edits.fields[kSettingSenderAddress] = std::to_string(round) + "@example.org";
    return edits;
  };
  {
    auto backend = MakeTomlSettingsBackend(folder_);
    std::atomic<std::uint8_t> flags{0};
    MailSettingsStore store(*backend, flags);
    ASSERT_EQ(store.Save(edits_for(0), 0xFF), std::nullopt);
  }
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 20; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto backend = MakeTomlSettingsBackend(folder_);
      std::atomic<std::uint8_t> flags{0};
      MailSettingsStore store(*backend, flags);
      for (int i = 1;; ++i)
        store.Save(edits_for(i), 0xFF);
    }
    ::usleep(1000 + random() % 20000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    auto backend = MakeTomlSettingsBackend(folder_);
    ASSERT_TRUE(backend->Refresh()) << backend->error();
    const std::string port = backend->ReadString("Port").value_or("missing");
    EXPECT_EQ(backend->ReadString("SMTP"), std::string(200000, 'h') + port) << round;
    EXPECT_EQ(ModeOf(File()), 0600u);
  }
}

TEST_F(TomlSettingsTest, SettingsFolderFollowsTheEnvironment) {
  const char* old = std::getenv("RAIDGUI_CONFIG_DIR");
  const std::string kept = old != nullptr ? old : "";
  ::setenv("RAIDGUI_CONFIG_DIR", folder_.c_str(), 1);
  EXPECT_EQ(SettingsFolder(), folder_);
  EXPECT_EQ(MakePlatformSettingsBackend()->Location(), File().string());
  ::unsetenv("RAIDGUI_CONFIG_DIR");
  if (::geteuid() == 0) {
    EXPECT_EQ(SettingsFolder(), fs::path("/etc/raidgui"));
  } else {
    ::setenv("XDG_CONFIG_HOME", root_.path().c_str(), 1);
    EXPECT_EQ(SettingsFolder(), root_ / "raidgui");
  }
  if (old != nullptr) ::setenv("RAIDGUI_CONFIG_DIR", kept.c_str(), 1);
}

}  // namespace
}  // namespace raid
