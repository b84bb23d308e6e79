// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl monitor under the journal: its stderr lines carry syslog priorities only when stderr is
// the stream JOURNAL_STREAM names, and a hook's lines get ours in front of any of their own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/build_paths.h"
#include "support/shell_command.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace {

namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::Each;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;

// HDD2 is pulled: an alert and a hook run.
constexpr const char* kStory = R"({ "drives": [ { "number": 1, "type": "enclosure" } ],
  "timeline": [ { "at_s": 12, "drive": 1, "action": "pull_drive", "port": 1 } ] })";

class RaidctlJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "config");
    std::ofstream(folder_ / "story.json") << kStory;
    std::ofstream(Hook()) << "#!/bin/sh\necho '<3>the hook claims an error'\n"
                          << "printf 'a last line without a line feed'\n";
    fs::permissions(Hook(), fs::perms::owner_all);
    std::ofstream{Err()};
  }

  fs::path Hook() const { return folder_ / "hook.sh"; }
  fs::path Err() const { return folder_ / "err.txt"; }

  // The monitor's stderr lines, appended to Err(), with `journal` as JOURNAL_STREAM.
  std::vector<std::string> MonitorStderr(const std::string& journal) const {
    const std::string variables =
        "RAIDGUI_LOG_DIR=" + (folder_ / "logs").string() +
        " RAIDGUI_CONFIG_DIR=" + (folder_ / "config").string() +
        (journal.empty() ? " env -u JOURNAL_STREAM" : " JOURNAL_STREAM=" + journal);
    // The metrics' folder does not exist: an error line.
    const raid::testing::ShellRun run = raid::testing::RunShellCommand(
        variables + " " + RAIDCTL_PATH + " monitor --simulate " +
        (folder_ / "story.json").string() + " --for 30 --exec " + Hook().string() + " --metrics " +
        (folder_ / "nowhere" / "raidgui.prom").string() + " >/dev/null 2>>" + Err().string());
    EXPECT_EQ(run.exit_code, 0);
    return raid::testing::ReadLines(Err());
  }

  raid::testing::TempFolder folder_{"raidctl-journal-test-"};
};

TEST_F(RaidctlJournalTest, LinesCarryPrioritiesOnlyWhenStderrIsTheJournal) {
  struct stat facts {};
  ASSERT_EQ(stat(Err().c_str(), &facts), 0);
  const std::vector<std::string> journal =
      MonitorStderr(std::to_string(facts.st_dev) + ":" + std::to_string(facts.st_ino));
  EXPECT_THAT(journal, Each(MatchesRegex("<[346]>.*")));
  EXPECT_THAT(journal, Contains("<6>raidctl: monitor started"));
  EXPECT_THAT(journal, Contains(StartsWith("<4>raidctl: alert mails are off: ")));
  EXPECT_THAT(journal, Contains(StartsWith("<3>raidctl: cannot write the metrics: ")));
  EXPECT_THAT(journal, Contains(MatchesRegex("<4>raidctl: alert \".*\" for Device1 HDD2")));
  EXPECT_THAT(journal, Contains("<6><3>the hook claims an error"));
  EXPECT_THAT(journal, Contains("<6>a last line without a line feed"));
  EXPECT_THAT(journal, Contains("<6>raidctl: monitor stopped"));

  fs::resize_file(Err(), 0);
  const std::vector<std::string> terminal = MonitorStderr("");
  // The hook's line as it wrote it, and nothing in front of any line.
  EXPECT_THAT(terminal, Each(AnyOf(Not(StartsWith("<")), "<3>the hook claims an error")));
  EXPECT_THAT(terminal, Contains("<3>the hook claims an error"));
  EXPECT_THAT(terminal, Contains("raidctl: monitor started"));
  EXPECT_THAT(terminal, Contains(StartsWith("raidctl: cannot write the metrics: ")));
}

}  // namespace
