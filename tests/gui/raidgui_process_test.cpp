// SPDX-License-Identifier: GPL-2.0-or-later
// raidgui run as a process, as a user or the run command starts it.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/build_paths.h"
#include "support/temp_folder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

class RaidguiProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "runtime");
    fs::create_directories(folder_ / "logs");
  }

  // Starts raidgui with `arguments`, on the offscreen platform, with this test's runtime and log
  // folders; stdout and stderr go to files in the test's folder.
  pid_t Start(const std::vector<std::string>& arguments, const std::string& name) {
    std::vector<std::string> args = {RAIDGUI_PATH};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_strings = {
        "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + (folder_ / "runtime").string(),
        "RAIDGUI_LOG_DIR=" + (folder_ / "logs").string(), "HOME=" + folder_.path().string()};
    std::vector<char*> env;
    for (std::string& entry : env_strings)
      env.push_back(entry.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (folder_ / (name + ".out")).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (folder_ / (name + ".err")).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    if (posix_spawn(&pid, RAIDGUI_PATH, &actions, nullptr, argv.data(), env.data()) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  // The exit status, or -1 when it did not end by itself within `limit`.
  static int Wait(pid_t pid, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      usleep(20000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  std::vector<std::string> Lines(const std::string& file) {
    std::ifstream in(folder_ / file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    return lines;
  }

  raid::testing::TempFolder folder_{"raidgui-process-"};
  const std::string scenario_ = std::string(RAIDGUI_SCENARIO_DIR) + "/demo.json";
};

TEST_F(RaidguiProcessTest, ASecondWindowEndsAtOnceWithStatusZero) {
  const pid_t first = Start({"--simulate", scenario_}, "first");
  ASSERT_GT(first, 0);
  // The first holds the lock once it runs; give it the time to get there.
  const auto lock = folder_ / "runtime" / "raidgui.lock";
  for (int i = 0; i < 250 && !fs::exists(lock); ++i)
    usleep(20000);
  usleep(300000);
  const auto start = std::chrono::steady_clock::now();
  const pid_t second = Start({"--simulate", scenario_}, "second");
  ASSERT_GT(second, 0);
  EXPECT_EQ(Wait(second, std::chrono::seconds(10)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(Lines("second.out").empty());

  kill(first, SIGTERM);
  Wait(first, std::chrono::seconds(10));
}

// A speed that is no finite number in the range is refused before any window: "nan" used to hang.
TEST_F(RaidguiProcessTest, ASpeedOutsideItsRangeIsRefusedWithStatusTwo) {
  for (const char* speed : {"nan", "inf", "0", "1e300", "0.001", "fast"}) {
    const pid_t pid = Start({"--simulate", scenario_, "--speed", speed}, "speed");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(Wait(pid, std::chrono::seconds(10)), 2) << speed;
    EXPECT_THAT(Lines("speed.err"),
                ::testing::Contains("raidgui: --speed needs a number from 0.01 to 1000"))
        << speed;
  }
  // A tour's pictures take real time: faster than 100, it would pass their moments.
  const pid_t tour = Start(
      {"--simulate", scenario_, "--speed", "101", "--screenshots", (folder_ / "pictures").string()},
      "tour");
  ASSERT_GT(tour, 0);
  EXPECT_EQ(Wait(tour, std::chrono::seconds(10)), 2);
  EXPECT_THAT(Lines("tour.err"),
              ::testing::Contains("raidgui: with --screenshots, --speed goes up to 100"));
}

// A log folder that is a file: the tour tells each box it shows on stderr, and does not end as if
// the story had been kept.
TEST_F(RaidguiProcessTest, ATourWhoseLogCannotBeSavedSaysSoAndFails) {
  fs::remove_all(folder_ / "logs");
  std::ofstream(folder_ / "logs") << "a file where the log folder should be\n";
  const pid_t tour = Start(
      {"--simulate", scenario_, "--speed", "25", "--screenshots", (folder_ / "pictures").string()},
      "tour");
  ASSERT_GT(tour, 0);
  EXPECT_EQ(Wait(tour, std::chrono::seconds(60)), 1);
  const std::vector<std::string> said = Lines("tour.err");
  EXPECT_THAT(said, ::testing::Contains(::testing::HasSubstr(
                        "raidgui: message box \"Warning:\": The daily log cannot be saved now")));
  EXPECT_THAT(said, ::testing::Contains(::testing::MatchesRegex(
                        R"(raidgui: message box "Warning:": [0-9]+ lines of the daily log could )"
                        R"(not be saved to .*logs/[0-9]{6}\.log: .*)")));
}

// Pictures at chosen story times, each with the texts the window shows beside it: at 30 s the
// demo's HDD2 has been pulled.
TEST_F(RaidguiProcessTest, PicturesAtChosenTimesComeWithTheWindowsTexts) {
  const fs::path pictures = folder_ / "pictures";
  const pid_t tour = Start({"--simulate", scenario_, "--speed", "25", "--screenshots",
                            pictures.string(), "--at", "30, 12"},
                           "at");
  ASSERT_GT(tour, 0);
  ASSERT_EQ(Wait(tour, std::chrono::seconds(60)), 0);
  for (const char* file : {"at_12s_status.png", "at_12s_upgrade.txt", "at_30s_viewer.txt"})
    EXPECT_TRUE(fs::exists(pictures / file)) << file;
  std::ifstream status(pictures / "at_30s_status.txt");
  const std::string texts{std::istreambuf_iterator<char>(status), {}};
  EXPECT_THAT(texts, ::testing::HasSubstr("\nLabel18: Single HDD\\nPresent\n"));
  EXPECT_THAT(texts, ::testing::StartsWith("windowTitle: RAID GUI v0.50.11-4 - TORVANE"));

  const pid_t wrong = Start(
      {"--simulate", scenario_, "--screenshots", pictures.string(), "--at", "12,soon"}, "wrong");
  ASSERT_GT(wrong, 0);
  EXPECT_EQ(Wait(wrong, std::chrono::seconds(10)), 2);
  EXPECT_THAT(Lines("wrong.err"), ::testing::Contains(::testing::HasSubstr("--at needs")));
}

// The run command's demo without a display: the story told fast, a picture of every page and
// of the viewer at each key moment, and the story's log on stdout, also when it went past
// midnight (the drive is pulled on one day and rebuilt on the next).
TEST_F(RaidguiProcessTest, TheDemoTourSavesItsPicturesAndPrintsTheLog) {
  const fs::path story = folder_ / "demo_before_midnight.json";
  {
    std::ifstream demo(scenario_);
    std::string text((std::istreambuf_iterator<char>(demo)), std::istreambuf_iterator<char>());
    ASSERT_EQ(text.front(), '{');
    text.insert(1, R"( "starts_at": "2026-12-08 23:59:30",)");
    std::ofstream(story) << text;
  }
  const fs::path pictures = folder_ / "pictures";
  const pid_t tour = Start(
      {"--simulate", story.string(), "--speed", "25", "--screenshots", pictures.string()}, "tour");
  ASSERT_GT(tour, 0);
  ASSERT_EQ(Wait(tour, std::chrono::seconds(60)), 0) << fs::path(folder_ / "tour.err");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(pictures)) {
    if (entry.path().extension() == ".png") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_THAT(names, ::testing::ElementsAre(
                         "1_normal_about.png", "1_normal_email.png", "1_normal_smart.png",
                         "1_normal_status.png", "1_normal_upgrade.png", "1_normal_viewer.png",
                         "2_single_hdd_status.png", "2_single_hdd_viewer.png",
                         "3_rebuilding_status.png", "3_rebuilding_viewer.png",
                         "4_normal_again_status.png", "4_normal_again_viewer.png"));
  const std::vector<std::string> log = Lines("tour.out");
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.find(" has started from 12/08/26 23:59:") !=
                                   std::string::npos;
                          }),
            1);
  EXPECT_THAT(log, ::testing::Contains(::testing::MatchesRegex(
                       "D1 HDD2 was removed, [0-9A-F]{2}12/08/26 23:59:[45][0-9]")));
  // The new day's file opens with the enclosures as they are then.
  EXPECT_EQ(std::count(log.begin(), log.end(), "Device1 information :"), 2);
  // The rebuild's end: "Done" when a poll saw its last percent, else both drives OK. Which one
  // depends on where the polls fell, and so on how busy the machine was.
  EXPECT_THAT(log, ::testing::Contains(
                       ::testing::AnyOf(::testing::HasSubstr("D1 HDD1 OK, HDD2 OK, 12/09/26 "),
                                        ::testing::HasSubstr("Done, 12/09/26 "))));
}

}  // namespace
