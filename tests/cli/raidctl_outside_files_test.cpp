// SPDX-License-Identifier: GPL-2.0-or-later
// Files raidctl is pointed at from outside, as a hostile or careless user names them: a FIFO, a
// device, a folder or a huge file is refused at once with a message, and nothing hangs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/other_user.h"
#include "support/raidctl_run.h"
#include "support/smtp_test_server.h"
#include "support/temp_folder.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

using testing::CliRun;

class RaidctlOutsideFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "config");
    ASSERT_EQ(mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  }

  // raidctl with `arguments`, ended after 20 s: a hang shows as exit status 124.
  CliRun Raidctl(const std::string& arguments, const std::string& environment = "") {
    return testing::RunRaidctl("RAIDGUI_CONFIG_DIR=" + (folder_ / "config").string() +
                                   " RAIDGUI_LOG_DIR=" + (folder_ / "logs").string() + " " +
                                   environment + " timeout 20",
                               arguments + " </dev/null", folder_ / "stderr.txt");
  }

  // A file of `bytes` blanks (a sparse file costs no disk).
  fs::path FileOfSize(const std::string& name, std::uintmax_t bytes) {
    const fs::path path = folder_ / name;
    std::ofstream(path) << ' ';
    fs::resize_file(path, bytes);
    return path;
  }

  // One enclosure from a fixed noon, so that the day's file has a known name.
  fs::path NoonScenario() {
    const fs::path scenario = folder_ / "noon.json";
    std::ofstream(scenario) << R"({ "starts_at": "2026-12-08 12:00:00",
      "drives": [ { "number": 1, "type": "enclosure" } ] })";
    return scenario;
  }

  testing::TempFolder folder_{"raidctl-files-"};
};

TEST_F(RaidctlOutsideFilesTest, AScenarioThatIsNoRegularFileOrTooLargeIsRefusedAtOnce) {
  const struct {
    std::string path;
    std::string said;
  } cases[] = {
      {(folder_ / "fifo").string(), "not a regular file (a FIFO)"},
      {"/dev/zero", "not a regular file (a character device)"},
      {folder_.path().string(), "not a regular file (a folder)"},
      {FileOfSize("huge.json", (16u << 20) + 1).string(), "is larger than 16 MiB"},
  };
  for (const auto& scenario : cases) {
    const CliRun run = Raidctl("status --simulate " + scenario.path);
    EXPECT_EQ(run.exit_code, 2) << scenario.path << ": " << run.err;
    EXPECT_THAT(run.err, HasSubstr(scenario.said)) << scenario.path;
  }
}

TEST_F(RaidctlOutsideFilesTest, ABodyTemplateOrSettingsFileThatIsNoRegularFileIsRefused) {
  CliRun run = Raidctl("mail-setup --body disk-fail " + (folder_ / "fifo").string());
  EXPECT_EQ(run.exit_code, 2) << run.err;
  EXPECT_THAT(run.err, HasSubstr("not a regular file (a FIFO)"));

  run = Raidctl("mail-setup --body disk-fail " + FileOfSize("body.txt", (1u << 20) + 1).string());
  EXPECT_EQ(run.exit_code, 2) << run.err;
  EXPECT_THAT(run.err, HasSubstr("is larger than 1 MiB"));

  run = Raidctl("mail-setup --body disk-fail " + (folder_ / "none.txt").string());
  EXPECT_EQ(run.exit_code, 2) << run.err;
  EXPECT_THAT(run.err, HasSubstr("there is no file"));

  // The settings file itself: read as unreadable, never written over.
  ASSERT_EQ(mkfifo((folder_ / "config" / "settings.toml").c_str(), 0600), 0);
  run = Raidctl("mail-show");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("not a regular file (a FIFO)"));
  run = Raidctl("mail-setup --port 2525");
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_TRUE(fs::is_fifo(folder_ / "config" / "settings.toml"));
}

TEST_F(RaidctlOutsideFilesTest, ATraceThatIsNoRegularFileIsRefusedAtOnce) {
  const fs::path fifo = folder_ / "fifo";
  const CliRun run =
      Raidctl("status --simulate " + NoonScenario().string(), "RAIDGUI_TRACE=" + fifo.string());
  EXPECT_EQ(run.exit_code, 0) << run.err;  // 124 would be the time-out's
  EXPECT_THAT(run.err, HasSubstr("Cannot open the trace file " + fifo.string()));
  EXPECT_THAT(run.err, HasSubstr("not a regular file (a FIFO)"));
}

// The service's user may write in the log folder and perhaps beside the metrics: root's monitor
// must not write wherever their links lead, and says why it does not.
TEST_F(RaidctlOutsideFilesTest, MonitorNeverWritesThroughAnotherUsersLink) {
  if (!testing::IsRoot()) GTEST_SKIP() << "needs root to plant another user's link";
  const fs::path victim = folder_ / "victim";
  std::ofstream(victim) << "root's own file\n";
  fs::create_directories(folder_ / "logs");
  ASSERT_TRUE(testing::PlantOthersLink(victim, folder_ / "logs" / "261208.log"));
  ASSERT_TRUE(testing::PlantOthersLink(victim, folder_ / "planted.prom"));

  const CliRun run = Raidctl("monitor --for 10 --simulate " + NoonScenario().string() +
                             " --metrics " + (folder_ / "planted.prom").string());
  EXPECT_EQ(run.exit_code, 1) << run.err;
  const std::string refused = " is a symbolic link owned by another user (uid 65534)";
  EXPECT_THAT(run.err, HasSubstr((folder_ / "logs" / "261208.log").string() + refused));
  EXPECT_THAT(run.err, HasSubstr((folder_ / "planted.prom").string() + refused));
  EXPECT_EQ(test_smtp::ReadFile(victim), "root's own file\n");
  EXPECT_TRUE(fs::is_symlink(folder_ / "planted.prom"));
}

}  // namespace
}  // namespace raid
