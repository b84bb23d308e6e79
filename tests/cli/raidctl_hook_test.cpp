// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl monitor's events as programs get them: the --exec hook and the --json lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/build_paths.h"
#include "support/raidctl_run.h"
#include "support/shell_command.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace {

namespace fs = std::filesystem;
using raid::testing::ReadLines;
using raid::testing::SplitLines;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// One enclosure whose drives are pulled one after the other, then the enclosure itself; it comes
// back later. Four events: two disk fails, a removal, a found enclosure.
constexpr const char* kEventStory = R"({ "drives": [ { "number": 1, "type": "enclosure" } ],
  "timeline": [
    { "at_s": 12, "drive": 1, "action": "pull_drive", "port": 1 },
    { "at_s": 22, "drive": 1, "action": "pull_drive", "port": 0 },
    { "at_s": 52, "drive": 1, "action": "unplug" },
    { "at_s": 72, "drive": 1, "action": "plug" } ] })";

// The hook's record of each run: the five variables, '|' between them.
const std::regex kStamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");

class RaidctlHookTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(folder_ / "story.json") << kEventStory; }

  // A hook script that records its event and then does what `action` says, in sh.
  fs::path WriteHook(const std::string& action) const {
    const fs::path hook = folder_ / "hook.sh";
    std::ofstream(hook) << "#!/bin/sh\n"
                        << "printf '%s|%s|%s|%s|%s\\n' \"$RAIDCTL_EVENT\" \"$RAIDCTL_ENCLOSURE\" "
                           "\"$RAIDCTL_PORT\" \"$RAIDCTL_LINE\" \"$RAIDCTL_TIME\" >>"
                        << Record() << "\n"
                        << "echo \"hook output for $RAIDCTL_EVENT\"\n"
                        << action << "\n";
    fs::permissions(hook, fs::perms::owner_all);
    return hook;
  }
  fs::path Record() const { return folder_ / "record.txt"; }
  fs::path Err() const { return folder_ / "err.txt"; }

  // raidctl with `arguments`: stdout captured, stderr in Err(), the log in the test's folder.
  raid::testing::ShellRun Raidctl(const std::string& arguments) const {
    return raid::testing::RunRaidctl("RAIDGUI_LOG_DIR=" + (folder_ / "logs").string(), arguments,
                                     Err());
  }

  raid::testing::TempFolder folder_{"raidctl-hook-test-"};
};

// Each failure is told with the program, the event and why, and the next event runs the hook
// again. The hanging hook (and the sleep it started) is killed at the limit while the monitor
// goes on: it finishes its run, and the events after it still reach the hook.
TEST_F(RaidctlHookTest, FailingAndHangingHooksAreReportedAndTheNextEventStillRunsTheHook) {
  const fs::path sleeper = folder_ / "sleeper.pid";
  const fs::path hook = WriteHook(
      "case \"$RAIDCTL_EVENT$RAIDCTL_PORT\" in\n"
      "  disk-fail2) exit 3 ;;\n"
      "  disk-fail1) sleep 30 & echo $! >" +
      sleeper.string() +
      "; wait ;;\n"
      "  device-removed) kill -TERM $$ ;;\n"
      "esac\n"
      "exit 0");
  const auto start = std::chrono::steady_clock::now();
  const raid::testing::ShellRun run =
      Raidctl("monitor --simulate " + (folder_ / "story.json").string() + " --for 1200 --exec " +
              hook.string() + " --exec-timeout 1");
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_LT(took, std::chrono::seconds(25));

  const std::vector<std::string> record = ReadLines(Record());
  ASSERT_EQ(record.size(), 4U) << run.out;
  EXPECT_TRUE(std::regex_match(record[0], std::regex("disk-fail\\|1\\|2\\|D1 HDD2 was removed, "
                                                     "[0-9A-F]{2}.+\\|\\S+")))
      << record[0];
  EXPECT_TRUE(std::regex_match(record[1], std::regex("disk-fail\\|1\\|1\\|D1 HDD1 was removed, "
                                                     "[0-9A-F]{2}.+\\|\\S+")))
      << record[1];
  EXPECT_TRUE(std::regex_match(
      record[2], std::regex("device-removed\\|1\\|\\|D1 Device was removed\\..+\\|\\S+")))
      << record[2];
  EXPECT_TRUE(std::regex_match(
      record[3], std::regex("device-found\\|1\\|\\|D1 New Device was found\\..+\\|\\S+")))
      << record[3];
  for (const std::string& line : record) {
    EXPECT_TRUE(std::regex_match(line.substr(line.rfind('|') + 1), kStamp)) << line;
  }

  const std::vector<std::string> err = ReadLines(Err());
  const std::string prefix = "raidctl: hook " + hook.string() + " for ";
  EXPECT_THAT(err, Contains(prefix + "disk-fail of Device1 HDD2: exited with status 3"));
  EXPECT_THAT(err, Contains(prefix + "disk-fail of Device1 HDD1: stopped after its limit of 1 s"));
  EXPECT_THAT(err,
              Contains(prefix + "device-removed of Device1: killed by signal 15 (Terminated)"));
  EXPECT_THAT(err, Not(Contains(HasSubstr("device-found of Device1"))));
  EXPECT_THAT(err, Not(Contains(HasSubstr("not run"))));
  // What the hook prints goes with raidctl's messages, not into its output.
  EXPECT_THAT(err, Contains("hook output for device-found"));
  EXPECT_THAT(run.out, Not(HasSubstr("hook output")));
  EXPECT_THAT(SplitLines(run.out), Contains(HasSubstr("D1 New Device was found.")));

  // The hang's own child went with it.
  const std::vector<std::string> pid = ReadLines(sleeper);
  ASSERT_EQ(pid.size(), 1U);
  std::ifstream stat("/proc/" + pid[0] + "/stat");
  std::string state;
  if (stat) {
    std::string skip;
    stat >> skip >> skip >> state;  // a zombie waits for its new parent to reap it
  }
  EXPECT_TRUE(!stat || state == "Z") << "sleep " << pid[0] << " still runs, state " << state;
}

// A hook that cannot run is refused before monitoring starts; a bare name is looked up on PATH,
// as a shell looks it up, not in the current folder.
TEST_F(RaidctlHookTest, AHookThatCannotRunIsRefusedAtStartAndABareNameIsFoundOnPath) {
  const std::string story = " --for 600 --simulate " + (folder_ / "story.json").string();
  const std::string missing = (folder_ / "no-such-hook").string();
  EXPECT_EQ(Raidctl("monitor --exec " + missing + story).exit_code, 2);
  EXPECT_THAT(ReadLines(Err()),
              Contains("raidctl: --exec: " + missing + ": No such file or directory"));
  const fs::path hook = WriteHook("exit 0");
  fs::permissions(hook, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Raidctl("monitor --exec " + hook.string() + story).exit_code, 2);
  EXPECT_THAT(ReadLines(Err()), Contains(HasSubstr(": not executable")));
  EXPECT_FALSE(fs::exists(folder_ / "logs")) << "monitoring started";

  fs::permissions(hook, fs::perms::owner_all);
  fs::create_directories(folder_ / "bin");
  fs::rename(hook, folder_ / "bin" / "raid-hook");
  const raid::testing::ShellRun run = raid::testing::RunShellCommand(
      "cd / && RAIDGUI_LOG_DIR=" + (folder_ / "logs").string() +
      " PATH=" + (folder_ / "bin").string() + ":$PATH " + RAIDCTL_PATH +
      " monitor --exec raid-hook" + story + " 2>" + Err().string());
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_EQ(ReadLines(Record()).size(), 4U);
  EXPECT_THAT(ReadLines(Err()),
              Contains(HasSubstr("each event runs " + (folder_ / "bin" / "raid-hook").string())));
}

// With --json, stdout is one event per line and nothing else, and the hook's variables are the
// same fields.
TEST_F(RaidctlHookTest, JsonLinesCarryTheEventsWithTheHooksFields) {
  const fs::path hook = WriteHook("exit 0");
  const raid::testing::ShellRun run =
      Raidctl("monitor --json --for 600 --simulate " + std::string(RAIDGUI_SCENARIO_DIR) +
              "/rebuild_story.json --exec " + hook.string());
  ASSERT_EQ(run.exit_code, 0);
  const std::vector<std::string> lines = SplitLines(run.out);
  ASSERT_FALSE(lines.empty());
  std::vector<std::string> as_recorded;
  for (const std::string& line : lines) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(event.is_object()) << line;
    ASSERT_EQ(event.size(), 5U) << line;
    ASSERT_TRUE(event["event"].is_string()) << line;
    ASSERT_TRUE(event["enclosure"].is_number_unsigned()) << line;
    ASSERT_TRUE(event["port"].is_null() || event["port"].is_number_unsigned()) << line;
    ASSERT_TRUE(event["line"].is_string()) << line;
    ASSERT_TRUE(std::regex_match(event["time"].get<std::string>(), kStamp)) << line;
    as_recorded.push_back(
        event["event"].get<std::string>() + "|" +
        std::to_string(event["enclosure"].get<unsigned>()) + "|" +
        (event["port"].is_null() ? "" : std::to_string(event["port"].get<unsigned>())) + "|" +
        event["line"].get<std::string>() + "|" + event["time"].get<std::string>());
  }
  // HDD2 pulled at 30 s.
  EXPECT_THAT(lines, Contains(AllOf(HasSubstr(R"("event":"disk-fail","enclosure":1,"port":2,)"),
                                    HasSubstr(R"("line":"D1 HDD2 was removed, )"))));
  EXPECT_EQ(ReadLines(Record()), as_recorded);
}

// Polling that gives up on an enclosure that stopped answering is an event of its own, without a
// log line.
TEST_F(RaidctlHookTest, AnEnclosureThatStopsAnsweringIsANoResponseEvent) {
  std::ofstream(folder_ / "silent.json") << R"({ "drives": [ { "number": 1, "type": "enclosure" } ],
    "timeline": [ { "at_s": 20, "drive": 1, "action": "set_faults",
                    "faults": { "never_answer": true } } ] })";
  const fs::path hook = WriteHook("exit 0");
  const raid::testing::ShellRun run =
      Raidctl("monitor --json --for 600 --simulate " + (folder_ / "silent.json").string() +
              " --exec " + hook.string());
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_THAT(
      SplitLines(run.out),
      Contains(HasSubstr(R"({"event":"no-response","enclosure":1,"port":null,"line":"",)")));
  const std::vector<std::string> record = ReadLines(Record());
  ASSERT_EQ(record.size(), 1U);
  EXPECT_EQ(record[0].substr(0, 16), "no-response|1|||");
}

TEST_F(RaidctlHookTest, ExecAndNumberOptionErrorsEndWithStatusTwo) {
  const std::string exec_range = "--exec-timeout needs a number of seconds from 1 to 86400";
  const std::string for_range = "--for needs a number of seconds from 0.001 to 315360000";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"status --exec /bin/true", "--exec and --exec-timeout only apply to monitor"},
      {"monitor --exec-timeout 5", "--exec-timeout only applies with --exec"},
      {"monitor --exec", "--exec needs a program"},
      {"monitor --exec /bin/true --exec-timeout 0.5", exec_range},
      {"monitor --exec /bin/true --exec-timeout -2", exec_range},
      {"monitor --exec /bin/true --exec-timeout 5s", exec_range},
      {"monitor --exec /bin/true --exec-timeout inf", exec_range},
      {"monitor --exec /bin/true --exec-timeout nan", exec_range},
      {"monitor --exec /bin/true --exec-timeout 86401", exec_range},
      {"monitor --exec /bin/true --exec-timeout", exec_range},
      {"monitor --for inf", for_range},
      {"monitor --for nan", for_range},
      {"monitor --for 1e300", for_range},
      {"monitor --for 0", for_range},
  };
  for (const auto& [arguments, error] : cases) {
    EXPECT_EQ(Raidctl(arguments).exit_code, 2) << arguments;
    EXPECT_THAT(ReadLines(Err()), Contains(HasSubstr(error))) << arguments;
  }
}

}  // namespace
