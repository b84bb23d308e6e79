// The daily log files on a real file system.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "status/event_log.h"

#ifndef _WIN32
#include <signal.h>
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
  std::ofstream(folder_.string()) << "not a folder";
  FolderLogStore store(folder_);
  EXPECT_FALSE(store.Save("x.log", {"line"}));
  EXPECT_FALSE(store.last_error().empty());
  EXPECT_EQ(store.Load("x.log"), std::nullopt);
  fs::remove(folder_);
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
#endif

}  // namespace
}  // namespace raid
