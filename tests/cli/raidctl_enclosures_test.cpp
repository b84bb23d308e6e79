// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl with more enclosures than the window shows, and with enclosures that fall silent: every
// one is watched, and what is said about each is true.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/raidctl_run.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class RaidctlEnclosuresTest : public ::testing::Test {
 protected:
  fs::path Write(const std::string& name, const std::string& text) const {
    const fs::path file = folder_ / name;
    std::ofstream(file) << text;
    return file;
  }
  // raidctl with `arguments`, the log in the test's folder; stdout returned, stderr in Err().
  raid::testing::ShellRun Raidctl(const std::string& arguments) const {
    return raid::testing::RunRaidctl("RAIDGUI_LOG_DIR=" + (folder_ / "logs").string(), arguments,
                                     folder_ / "err");
  }
  std::vector<std::string> Err() const { return raid::testing::ReadLines(folder_ / "err"); }
  std::string Log() const {
    std::string all;
    for (const auto& entry : fs::directory_iterator(folder_ / "logs")) {
      for (const std::string& line : raid::testing::ReadLines(entry.path()))
        all += line + "\n";
    }
    return all;
  }

  raid::testing::TempFolder folder_{"raidctl-enclosures-"};
};

constexpr const char* kThreeEnclosures = R"({ "drives": [
    { "number": 1, "type": "enclosure" }, { "number": 2, "type": "enclosure" },
    { "number": 4, "type": "enclosure", "members": [ { "serial": "NW1A00000301  " }, {} ] } ],
  "timeline": [ { "at_s": 30, "drive": 4, "action": "pull_drive", "port": 1 } ] })";

// The third enclosure is listed, polled, logged, alerted and exported like the first two.
TEST_F(RaidctlEnclosuresTest, AThirdEnclosureIsWatchedLikeTheFirstTwo) {
  const fs::path scenario = Write("three.json", kThreeEnclosures);
  const auto status = Raidctl("status --json --simulate " + scenario.string());
  ASSERT_EQ(status.exit_code, 0);
  EXPECT_THAT(status.out, HasSubstr(R"("position": 2)"));
  EXPECT_THAT(status.out, HasSubstr(R"("serial": "NW1A00000301")"));  // trimmed, as in metrics

  const fs::path metrics = folder_ / "raidgui.prom";
  const auto monitor = Raidctl("monitor --json --for 60 --metrics " + metrics.string() +
                               " --simulate " + scenario.string());
  ASSERT_EQ(monitor.exit_code, 0);
  EXPECT_THAT(monitor.out, HasSubstr(R"({"event":"disk-fail","enclosure":3,"port":2,)"));
  EXPECT_THAT(Log(), HasSubstr("D3 HDD2 was removed, "));
  const std::vector<std::string> exported = raid::testing::ReadLines(metrics);
  EXPECT_THAT(exported, Contains("raidgui_enclosures 3"));
  EXPECT_THAT(exported, Contains(::testing::MatchesRegex(
                            R"(raidgui_enclosure_polls_total\{enclosure="3"\} [1-9][0-9]*)")));
  EXPECT_THAT(exported, Contains(R"(raidgui_enclosure_monitored{enclosure="3"} 1)"));
}

// Silent while another disk's arrival sets off a rediscovery: kept where it was, said to be
// silent, never removed; when it answers again it is watched again, with no "found" line.
TEST_F(RaidctlEnclosuresTest, ASilentEnclosureIsNeverReportedRemoved) {
  const fs::path scenario = Write("silent.json", R"({ "drives": [
      { "number": 1, "type": "enclosure" }, { "number": 2, "type": "enclosure" } ],
    "timeline": [
      { "at_s": 20, "drive": 2, "action": "set_faults", "faults": { "never_answer": true } },
      { "at_s": 21, "drive": 5, "action": "plug", "device": { "type": "disk" } },
      { "at_s": 90, "drive": 2, "action": "set_faults", "faults": {} } ] })");
  const auto monitor = Raidctl("monitor --json --for 150 --simulate " + scenario.string());
  ASSERT_EQ(monitor.exit_code, 0);
  const std::string log = Log();
  EXPECT_THAT(log, Not(HasSubstr("Device was removed")));
  EXPECT_THAT(log, Not(HasSubstr("New Device was found")));
  EXPECT_THAT(monitor.out, Not(HasSubstr("device-removed")));
  EXPECT_THAT(monitor.out, HasSubstr(R"({"event":"no-response","enclosure":2,)"));
  EXPECT_THAT(monitor.out, HasSubstr(R"({"event":"responding","enclosure":2,)"));
  const std::vector<std::string> err = Err();
  EXPECT_THAT(err, Contains("raidctl: Device2 does not answer"));
  EXPECT_THAT(err, Contains("raidctl: Device2 answers again; watching it again"));
}

// Drives without rights are named by every command, in JSON too; "no enclosure" is only said of
// the drives that could be opened, and is a failure when some could not.
TEST_F(RaidctlEnclosuresTest, DrivesThatCannotBeOpenedAreNamedAndNeverTakenForAnEmptyHost) {
  const fs::path locked = Write("locked.json", R"({ "drives": [
      { "number": 0, "type": "enclosure", "openable": false },
      { "number": 1, "type": "disk", "busy": true },
      { "number": 2, "type": "enclosure", "openable": false } ] })");
  for (const std::string command : {"status", "smart", "discover"}) {
    const auto run = Raidctl(command + " --simulate " + locked.string());
    EXPECT_EQ(run.exit_code, 1) << command;
    EXPECT_EQ(run.out, "No enclosure found among the drives that could be opened.\n") << command;
    const std::vector<std::string> err = Err();
    EXPECT_THAT(err, Contains("raidctl: physical drive 2 was skipped: permission denied"));
    EXPECT_THAT(err, Contains("raidctl: physical drive 1 was skipped: in use by another program"));
    EXPECT_THAT(err, Contains(HasSubstr("disk group")));
  }
  const auto json = Raidctl("status --json --simulate " + locked.string());
  EXPECT_EQ(json.exit_code, 1);
  EXPECT_THAT(json.out, HasSubstr(R"("not_opened": [)"));
  EXPECT_THAT(json.out, HasSubstr(R"("reason": "permission denied")"));
  EXPECT_EQ(
      Raidctl("firmware check " + locked.string() + " --device 1 --simulate " + locked.string())
          .exit_code,
      1);
  EXPECT_THAT(Err(),
              Contains("raidctl: there is no Device1 among the drives that could be opened"));
  const auto monitor = Raidctl("monitor --for 10 --simulate " + locked.string());
  EXPECT_EQ(monitor.exit_code, 0);
  EXPECT_THAT(Err(), Contains("raidctl: physical drive 0 was skipped: permission denied"));
  EXPECT_THAT(Err(), Contains("raidctl: no enclosure found among the drives that could be "
                              "opened; waiting for one"));

  // One found: the others are named, and the command succeeds. Rights would not help here.
  const fs::path some = Write("some.json", R"({ "drives": [
      { "number": 0, "type": "enclosure", "busy": true },
      { "number": 1, "type": "enclosure" } ] })");
  const auto found = Raidctl("status --json --simulate " + some.string());
  EXPECT_EQ(found.exit_code, 0);
  EXPECT_THAT(found.out, HasSubstr(R"("drive": 1,)"));
  EXPECT_THAT(found.out, HasSubstr(R"("not_opened": [)"));
  EXPECT_THAT(Err(),
              ElementsAre("raidctl: physical drive 0 was skipped: in use by another program"));
}

// Given up on after repeated failures, a silent enclosure is tried again by itself.
TEST_F(RaidctlEnclosuresTest, AnEnclosureGivenUpOnIsWatchedAgainWhenItAnswers) {
  const fs::path scenario = Write("given_up.json", R"({ "drives": [
      { "number": 1, "type": "enclosure" } ],
    "timeline": [
      { "at_s": 10, "drive": 1, "action": "set_faults", "faults": { "never_answer": true } },
      { "at_s": 200, "drive": 1, "action": "set_faults", "faults": {} } ] })");
  const fs::path metrics = folder_ / "raidgui.prom";
  const auto monitor = Raidctl("monitor --json --for 400 --metrics " + metrics.string() +
                               " --simulate " + scenario.string());
  ASSERT_EQ(monitor.exit_code, 0);
  const std::vector<std::string> err = Err();
  EXPECT_THAT(err, Contains("raidctl: Monitoring of Device1 stopped after repeated failures."));
  EXPECT_THAT(err, Contains("raidctl: Device1 answers again; watching it again"));
  EXPECT_THAT(monitor.out, HasSubstr(R"({"event":"responding","enclosure":1,)"));
  EXPECT_THAT(raid::testing::ReadLines(metrics),
              Contains(R"(raidgui_enclosure_monitored{enclosure="1"} 1)"));
}

}  // namespace
