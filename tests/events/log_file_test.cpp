// SPDX-License-Identifier: GPL-2.0-or-later
// The daily log files on a real file system.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <random>

#include "events/event_log.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/other_user.h"
#endif

namespace raid {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
 protected:
  std::vector<std::string> LinesOf(const std::string& name) {
    return testing::ReadLines(folder_ / name);
  }
  testing::TempFolder temporary_{"raidgui-log-test-"};
  fs::path folder_ = temporary_ / "logs";  // made by the test or the store
};

TEST_F(LogFileTest, AppendCreatesTheFolderAndLoadReadsTheLinesBack) {
  FolderLogStore store(folder_ / "nested");
  EXPECT_EQ(store.Probe("261208.log"), LogFileStore::Presence::kMissing);
  const std::vector<std::string> lines = {"first", "", "  third  "};
  const std::optional<LogFileLines> first = store.Append("261208.log", lines, {});
  ASSERT_TRUE(first.has_value()) << store.last_error();
  EXPECT_EQ(first->lines, lines);
  EXPECT_EQ(store.Probe("261208.log"), LogFileStore::Presence::kPresent);
  EXPECT_EQ(store.Load("261208.log")->lines, lines);

  const std::optional<LogFileLines> more = store.Append("261208.log", {"fourth"}, first->mark);
  ASSERT_TRUE(more.has_value()) << store.last_error();
  EXPECT_TRUE(more->continued);
  EXPECT_EQ(more->lines, std::vector<std::string>{"fourth"});
  EXPECT_EQ(fs::directory_iterator(folder_ / "nested")->path().filename(), "261208.log");
}

TEST_F(LogFileTest, LinesWrittenWithCarriageReturnsReadBackWithout) {
  fs::create_directories(folder_);
  std::ofstream(folder_ / "a.log", std::ios::binary) << "one\r\ntwo\r\n";
  FolderLogStore store(folder_);
  EXPECT_EQ(store.Load("a.log")->lines, (std::vector<std::string>{"one", "two"}));
}

TEST_F(LogFileTest, FolderThatIsAFileFailsWithoutTouchingAnything) {
  EXPECT_EQ(LogPathProblem(folder_, "x.log"), std::nullopt);  // created by the first save
  std::ofstream(folder_.string()) << "not a folder";
  EXPECT_EQ(LogPathProblem(folder_, "x.log"),
            folder_.string() + " is not a folder (a regular file)");
  FolderLogStore store(folder_);
  EXPECT_FALSE(store.Append("x.log", {"line"}, {}).has_value());
  EXPECT_FALSE(store.last_error().empty());
  EXPECT_FALSE(store.Load("x.log").has_value());
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
    EXPECT_FALSE(loading.get().has_value());
    EXPECT_EQ(store.last_error(), message);

    EXPECT_FALSE(store.Append(name, {"line"}, {}).has_value());
    EXPECT_EQ(store.last_error(), message);
    EXPECT_EQ(fs::status(path).type(), type);
    EXPECT_EQ(fs::is_symlink(path), std::string(item.case_name).starts_with("link"));
  }
}

#ifndef _WIN32
std::string Numbered(int writer, int line) {
  // Long enough that a write of many of them could be cut short.
  return "writer " + std::to_string(writer) + " line " + std::to_string(line) + " " +
         std::string(80, 'x');
}

// Processes killed at any moment of their saves leave every line before whole, and the line a
// crash cut short (at most one) is never joined to the next writer's.
TEST_F(LogFileTest, KilledWritersLeaveEveryEarlierLineWholeAndACutLineOnItsOwn) {
  FolderLogStore store(folder_);
  const std::vector<std::string> old_lines(20000, std::string(60, 'o'));
  ASSERT_TRUE(store.Append("day.log", old_lines, {}).has_value()) << store.last_error();

  std::mt19937 random(7);
  constexpr int kRounds = 25;
  for (int round = 0; round < kRounds; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FolderLogStore writer(folder_);
      for (int i = 0;; i += 50) {
        std::vector<std::string> lines;
        for (int k = 0; k < 50; ++k)
          lines.push_back(Numbered(round, i + k));
        writer.Append("day.log", lines, {});
      }
    }
    usleep(1000 + random() % 20000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(store.Append("day.log", {"after round " + std::to_string(round)}, {}).has_value());
  }
  // A crash in the middle of a line, as a full disk can also leave it.
  std::ofstream(folder_ / "day.log", std::ios::app | std::ios::binary) << "cut sho";
  ASSERT_TRUE(store.Append("day.log", {"next"}, {}).has_value());

  const std::vector<std::string> lines = LinesOf("day.log");
  ASSERT_GE(lines.size(), old_lines.size() + kRounds + 2);
  EXPECT_TRUE(std::equal(old_lines.begin(), old_lines.end(), lines.begin()));
  std::size_t at = old_lines.size();
  for (int round = 0; round < kRounds; ++round) {
    int next = 0;
    while (at < lines.size() && lines[at] == Numbered(round, next)) {
      ++at;
      ++next;
    }
    if (at < lines.size() && lines[at] != "after round " + std::to_string(round)) {
      EXPECT_TRUE(Numbered(round, next).starts_with(lines[at])) << lines[at];
      ++at;
    }
    ASSERT_LT(at, lines.size());
    ASSERT_EQ(lines[at], "after round " + std::to_string(round));
    ++at;
  }
  EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(at), lines.end()),
            (std::vector<std::string>{"cut sho", "next"}));
}

// The window, raidctl and the service may share a day's file: none loses another's line, and
// each save shows the file as it then is, the others' lines included, in the file's order.
TEST_F(LogFileTest, ProcessesAppendingAtOnceLoseNoLineAndEachSeesTheOthers) {
  constexpr int kWriters = 3;
  constexpr int kLines = 200;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FolderLogStore store(folder_);
      std::vector<std::string> view;
      LogFileMark mark;
      for (int i = 0; i < kLines; ++i) {
        std::optional<LogFileLines> now = store.Append("day.log", {Numbered(writer, i)}, mark);
        if (!now || now->lines.empty() || now->lines.back() != Numbered(writer, i)) _exit(1);
        if (!now->continued) view.clear();
        view.insert(view.end(), now->lines.begin(), now->lines.end());
        mark = now->mark;
      }
      std::ofstream out(folder_ / ("view" + std::to_string(writer)));
      for (const std::string& line : view)
        out << line << '\n';
      out.close();  // _exit leaves buffers unwritten
      _exit(out ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const std::vector<std::string> lines = LinesOf("day.log");
  ASSERT_EQ(lines.size(), std::size_t{kWriters * kLines});
  std::vector<int> next(kWriters, 0);
  for (const std::string& line : lines) {
    const int writer = line[7] - '0';
    ASSERT_TRUE(writer >= 0 && writer < kWriters) << line;
    EXPECT_EQ(line, Numbered(writer, next[writer]++));
  }
  for (int writer = 0; writer < kWriters; ++writer) {
    const std::vector<std::string> view = LinesOf("view" + std::to_string(writer));
    ASSERT_LE(view.size(), lines.size());
    EXPECT_TRUE(std::equal(view.begin(), view.end(), lines.begin())) << "writer " << writer;
    EXPECT_EQ(view.back(), Numbered(writer, kLines - 1));
  }
}

// Anyone who can read the day's file can take its lock: a save waits a little for it, then
// gives up and says why, so that the monitor never hangs on it.
TEST_F(LogFileTest, AnotherProgramsLockIsWaitedForButNotForEver) {
  FolderLogStore store(folder_);
  ASSERT_TRUE(store.Append("day.log", {"first"}, {}).has_value());
  const int held = ::open((folder_ / "day.log").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  auto saving =
      std::async(std::launch::async, [&] { return store.Append("day.log", {"second"}, {}); });
  EXPECT_EQ(saving.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  EXPECT_EQ(LinesOf("day.log"), std::vector<std::string>{"first"});
  ::flock(held, LOCK_UN);
  EXPECT_TRUE(saving.get().has_value()) << store.last_error();

  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(store.Append("day.log", {"third"}, {}).has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(store.last_error(),
            (folder_ / "day.log").string() + " is held locked by another program");
  ::close(held);
  EXPECT_EQ(LinesOf("day.log"), (std::vector<std::string>{"first", "second"}));
}

TEST_F(LogFileTest, NewDayFilesFollowTheUmaskAndOldOnesKeepTheirMode) {
  FolderLogStore store(folder_);
  const mode_t old_umask = ::umask(022);
  ASSERT_TRUE(store.Append("new.log", {"line"}, {}).has_value()) << store.last_error();
  ::umask(027);
  ASSERT_TRUE(store.Append("private.log", {"line"}, {}).has_value()) << store.last_error();
  ::umask(old_umask);
  EXPECT_EQ(testing::FactsOf(folder_ / "new.log").st_mode & 07777, 0644U);
  EXPECT_EQ(testing::FactsOf(folder_ / "private.log").st_mode & 07777, 0640U);
  ASSERT_EQ(::chmod((folder_ / "private.log").c_str(), 0600), 0);
  ASSERT_TRUE(store.Append("private.log", {"more"}, {}).has_value());
  EXPECT_EQ(testing::FactsOf(folder_ / "private.log").st_mode & 07777, 0600U);
}

// Root's monitor creates the day's file in the service's folder: the service must be able to
// append to it afterwards.
TEST_F(LogFileTest, DayFileRootCreatesInAnotherUsersFolderBecomesTheirs) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to act as two users";
  fs::create_directories(folder_);
  ASSERT_EQ(::chown(folder_.c_str(), testing::kOtherUser, testing::kOtherGroup), 0);
  FolderLogStore store(folder_);
  ASSERT_TRUE(store.Append("day.log", {"root's line"}, {}).has_value()) << store.last_error();
  const struct stat facts = testing::FactsOf(folder_ / "day.log");
  EXPECT_EQ(facts.st_uid, testing::kOtherUser);
  EXPECT_EQ(facts.st_gid, testing::kOtherGroup);
  EXPECT_TRUE(testing::RunAsOtherUser([&] {
    return FolderLogStore(folder_).Append("day.log", {"service's line"}, {}).has_value();
  }));
  EXPECT_EQ(LinesOf("day.log"), (std::vector<std::string>{"root's line", "service's line"}));
}

TEST_F(LogFileTest, OurOwnSymbolicLinkLeadsToTheFileItNames) {
  fs::create_directories(folder_ / "real");
  std::ofstream(folder_ / "real" / "kept.log") << "old\n";
  ASSERT_EQ(::chmod((folder_ / "real" / "kept.log").c_str(), 0600), 0);
  fs::create_symlink(fs::path("real") / "kept.log", folder_ / "261208.log");

  FolderLogStore store(folder_);
  EXPECT_EQ(store.Load("261208.log")->lines, std::vector<std::string>{"old"});
  ASSERT_TRUE(store.Append("261208.log", {"new"}, {}).has_value()) << store.last_error();
  EXPECT_TRUE(fs::is_symlink(folder_ / "261208.log"));
  EXPECT_EQ(LinesOf("real/kept.log"), (std::vector<std::string>{"old", "new"}));
  EXPECT_EQ(testing::FactsOf(folder_ / "real" / "kept.log").st_mode & 07777, 0600U);
}

// The service's user can write in the log folder; root's monitor must not write wherever a link
// of theirs leads, nor follow its own link in a folder they own (they could swap it).
TEST_F(LogFileTest, LinkAnotherUserCouldHaveMadeIsNeverFollowed) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to plant another user's link";
  fs::create_directories(folder_ / "theirs");
  const fs::path victim = folder_ / "victim";
  std::ofstream(victim) << "root's own file\n";
  ASSERT_TRUE(testing::PlantOthersLink(victim, folder_ / "planted.log"));
  ASSERT_TRUE(testing::PlantOthersLink(folder_ / "made-by-root", folder_ / "dangling.log"));
  ASSERT_EQ(::chown((folder_ / "theirs").c_str(), testing::kOtherUser, testing::kOtherGroup), 0);
  fs::create_symlink(victim, folder_ / "theirs" / "ours.log");

  FolderLogStore store(folder_);
  FolderLogStore their_folder(folder_ / "theirs");
  EXPECT_FALSE(store.Append("planted.log", {"line"}, {}).has_value());
  EXPECT_EQ(store.last_error(), (folder_ / "planted.log").string() +
                                    " is a symbolic link owned by another user (uid 65534): it is "
                                    "not followed, so that nobody else can choose the file we "
                                    "read or write");
  EXPECT_FALSE(store.Load("planted.log").has_value());
  EXPECT_FALSE(store.Append("dangling.log", {"line"}, {}).has_value());
  EXPECT_FALSE(fs::exists(folder_ / "made-by-root"));
  EXPECT_FALSE(their_folder.Append("ours.log", {"line"}, {}).has_value());
  EXPECT_NE(their_folder.last_error().find("in a folder owned by another user (uid 65534)"),
            std::string::npos)
      << their_folder.last_error();
  EXPECT_EQ(testing::ReadLines(victim), std::vector<std::string>{"root's own file"});
}
#endif

}  // namespace
}  // namespace raid
