// The daily log files on a real file system.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <random>

#include "status/event_log.h"

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace raid {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("raidgui-log-test-" + std::to_string(std::random_device{}()));
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(LogFileTest, SaveCreatesTheFolderAndLoadReadsTheLinesBack) {
  FolderLogStore store(folder_ / "nested");
  EXPECT_EQ(store.Probe("261208.log"), LogFileStore::Presence::kMissing);
  const std::vector<std::string> lines = {"first", "", "  third  "};
  ASSERT_TRUE(store.Save("261208.log", lines)) << store.last_error();
  EXPECT_EQ(store.Probe("261208.log"), LogFileStore::Presence::kPresent);
  EXPECT_EQ(store.Load("261208.log"), lines);
  EXPECT_FALSE(fs::exists(folder_ / "nested" / "261208.log.new"));
}

TEST_F(LogFileTest, LinesWrittenWithCarriageReturnsReadBackWithout) {
  fs::create_directories(folder_);
  std::ofstream(folder_ / "a.log", std::ios::binary) << "one\r\ntwo\r\n";
  FolderLogStore store(folder_);
  EXPECT_EQ(store.Load("a.log"), (std::vector<std::string>{"one", "two"}));
}

TEST_F(LogFileTest, FolderThatIsAFileFailsWithoutTouchingAnything) {
  EXPECT_EQ(LogPathProblem(folder_, "x.log"), std::nullopt);  // created by the first save
  std::ofstream(folder_.string()) << "not a folder";
  EXPECT_EQ(LogPathProblem(folder_, "x.log"),
            folder_.string() + " is not a folder (a regular file)");
  FolderLogStore store(folder_);
  EXPECT_FALSE(store.Save("x.log", {"line"}));
  EXPECT_FALSE(store.last_error().empty());
  EXPECT_EQ(store.Load("x.log"), std::nullopt);
  fs::remove(folder_);
}

// A day's log name taken by something else than a regular file, and what it is.
struct NotAFile {
  const char* case_name;
  std::function<void(const fs::path&)> make;
  const char* what;
};

TEST_F(LogFileTest, NameThatIsNotARegularFileIsRefusedAtOnceAndLeftAsItIs) {
  std::vector<NotAFile> cases = {
      {"folder", [](const fs::path& path) { fs::create_directory(path); }, "a folder"},
  };
#ifndef _WIN32
  cases.push_back(
      {"FIFO", [](const fs::path& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); }, "a FIFO"});
  cases.push_back({"link to a FIFO",
                   [](const fs::path& path) {
                     ASSERT_EQ(mkfifo((path.string() + ".fifo").c_str(), 0644), 0);
                     fs::create_symlink(path.filename().string() + ".fifo", path);
                   },
                   "a FIFO"});
#endif
  fs::create_directories(folder_);
  FolderLogStore store(folder_);
  for (const NotAFile& item : cases) {
    SCOPED_TRACE(item.case_name);
    const std::string name = std::string(item.case_name) + ".log";
    const fs::path path = folder_ / name;
    item.make(path);
    const fs::file_type type = fs::status(path).type();
    const std::string message = path.string() + " is not a regular file (" + item.what + ")";
    EXPECT_EQ(LogPathProblem(folder_, name), message);

    EXPECT_EQ(store.Probe(name), LogFileStore::Presence::kUnknown);
    EXPECT_EQ(store.last_error(), message);

    // On another thread, so that a reader stuck in open() fails the test instead of hanging it.
    auto loading = std::async(std::launch::async, [&] { return store.Load(name); });
    if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
#ifndef _WIN32
      ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));  // a writer lets the reader go
#endif
      ADD_FAILURE() << "Load blocked";
    }
    EXPECT_EQ(loading.get(), std::nullopt);
    EXPECT_EQ(store.last_error(), message);

    EXPECT_FALSE(store.Save(name, {"line"}));
    EXPECT_EQ(store.last_error(), message);
    EXPECT_EQ(fs::status(path).type(), type);
    EXPECT_EQ(fs::is_symlink(path), std::string(item.case_name).starts_with("link"));
  }
}

#ifndef _WIN32
// A process killed at any moment of a save leaves the day's file either as it was or as it was
// going to be: never shorter, never torn.
TEST_F(LogFileTest, KillingTheWriterMidSaveNeverShortensTheFile) {
  FolderLogStore store(folder_);
  std::vector<std::string> old_lines(20000, std::string(60, 'o'));
  ASSERT_TRUE(store.Save("day.log", old_lines));
  const auto old_size = fs::file_size(folder_ / "day.log");

  std::mt19937 random(7);
  for (int round = 0; round < 25; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FolderLogStore writer(folder_);
      std::vector<std::string> lines = old_lines;
      for (int i = 0;; ++i) {
        lines.push_back("new line " + std::to_string(i));
        writer.Save("day.log", lines);
      }
    }
    usleep(1000 + random() % 20000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    const std::optional<std::vector<std::string>> now = store.Load("day.log");
    ASSERT_TRUE(now.has_value());
    ASSERT_GE(fs::file_size(folder_ / "day.log"), old_size) << "round " << round;
    ASSERT_GE(now->size(), old_lines.size());
    EXPECT_EQ(now->front(), old_lines.front());
    EXPECT_EQ((*now)[old_lines.size() - 1], old_lines.back());
    if (now->size() > old_lines.size()) {
      EXPECT_EQ(now->back(), "new line " + std::to_string(now->size() - old_lines.size() - 1));
    }
  }
}

mode_t ModeOf(const fs::path& path) {
  struct stat facts {};
  EXPECT_EQ(::stat(path.c_str(), &facts), 0);
  return facts.st_mode & 07777;
}

// nobody:nogroup on Debian; only root can hand files to them.
constexpr uid_t kOtherUser = 65534;
constexpr gid_t kOtherGroup = 65534;

TEST_F(LogFileTest, ReplacedFileKeepsItsModeAndOwnerAndNewFilesFollowTheUmask) {
  FolderLogStore store(folder_);
  const mode_t old_umask = ::umask(022);
  ASSERT_TRUE(store.Save("new.log", {"line"})) << store.last_error();
  ::umask(027);
  ASSERT_TRUE(store.Save("private.log", {"line"})) << store.last_error();
  ::umask(old_umask);
  EXPECT_EQ(ModeOf(folder_ / "new.log"), 0644U);
  EXPECT_EQ(ModeOf(folder_ / "private.log"), 0640U);

  const fs::path path = folder_ / "private.log";
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherGroup), 0);
  }
  ASSERT_TRUE(store.Save("private.log", {"line", "more"})) << store.last_error();
  EXPECT_EQ(store.Load("private.log"), (std::vector<std::string>{"line", "more"}));
  EXPECT_EQ(ModeOf(path), 0600U);
  if (root) {
    struct stat facts {};
    ASSERT_EQ(::stat(path.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_uid, kOtherUser);
    EXPECT_EQ(facts.st_gid, kOtherGroup);
  }
}

// A user who may not give the new file the old one's group must not give its own group the old
// group's rights either.
TEST_F(LogFileTest, GroupThatCannotBeKeptGetsNoRights) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  fs::create_directories(folder_);
  ASSERT_EQ(::chown(folder_.c_str(), kOtherUser, kOtherGroup), 0);
  const fs::path path = folder_ / "shared.log";
  std::ofstream(path) << "line\n";
  ASSERT_EQ(::chown(path.c_str(), kOtherUser, 0), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0664), 0);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherGroup) != 0 || ::setuid(kOtherUser) != 0) {
      _exit(2);
    }
    FolderLogStore store(folder_);
    _exit(store.Save("shared.log", {"line", "more"}) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  struct stat facts {};
  ASSERT_EQ(::stat(path.c_str(), &facts), 0);
  EXPECT_EQ(facts.st_uid, kOtherUser);
  EXPECT_EQ(facts.st_gid, kOtherGroup);
  EXPECT_EQ(facts.st_mode & 07777, 0604U);
}

TEST_F(LogFileTest, SavingThroughASymbolicLinkReplacesTheFileItLeadsTo) {
  fs::create_directories(folder_ / "real");
  std::ofstream(folder_ / "real" / "kept.log") << "old\n";
  ASSERT_EQ(::chmod((folder_ / "real" / "kept.log").c_str(), 0600), 0);
  fs::create_symlink(fs::path("real") / "kept.log", folder_ / "261208.log");

  FolderLogStore store(folder_);
  EXPECT_EQ(store.Load("261208.log"), std::vector<std::string>{"old"});
  ASSERT_TRUE(store.Save("261208.log", {"old", "new"})) << store.last_error();
  EXPECT_TRUE(fs::is_symlink(folder_ / "261208.log"));
  EXPECT_EQ(store.Load("261208.log"), (std::vector<std::string>{"old", "new"}));
  EXPECT_EQ(ModeOf(folder_ / "real" / "kept.log"), 0600U);
  EXPECT_FALSE(fs::exists(folder_ / "real" / "kept.log.new"));
  EXPECT_FALSE(fs::exists(folder_ / "261208.log.new"));
}
#endif

}  // namespace
}  // namespace raid
