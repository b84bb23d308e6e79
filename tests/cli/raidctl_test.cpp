// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl run as a process against the simulated scenarios, as a user or a script runs it.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "support/build_paths.h"
#include "support/raidctl_run.h"
#include "support/shell_command.h"
#include "support/spawned_process.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

extern char** environ;

namespace {

using raid::testing::ReadLines;

namespace fs = std::filesystem;

using ProcessResult = raid::testing::ShellRun;
using raid::testing::RunRaidctl;

std::string Scenario(const std::string& name) {
  return std::string(RAIDGUI_SCENARIO_DIR) + "/" + name;
}

// The daily log files in `folder`, oldest day first.
std::vector<fs::path> DailyLogFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder))
    files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// The scenario file `name` told from `starts_at` ("YYYY-MM-DD HH:MM:SS" local time), written
// into `folder`.
fs::path ScenarioStartingAt(const std::string& name, const std::string& starts_at,
                            const fs::path& folder) {
  nlohmann::json scenario = nlohmann::json::parse(std::ifstream(Scenario(name)));
  scenario["starts_at"] = starts_at;
  const fs::path file = folder / name;
  std::ofstream(file) << scenario.dump();
  return file;
}

class RaidctlTest : public ::testing::Test {
 protected:
  std::string Env() const { return "RAIDGUI_LOG_DIR=" + (folder_ / "logs").string(); }
  // `raidctl monitor` with `arguments`, running in the background with its output discarded and
  // the log in the test's folder; the process id, or 0.
  pid_t SpawnMonitor(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {RAIDCTL_PATH, "monitor"});
    std::vector<char*> argv;
    for (std::string& arg : arguments)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::string log_env = Env();
    std::vector<char*> env = {log_env.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, RAIDCTL_PATH, &actions, nullptr, argv.data(), env.data()) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  raid::testing::TempFolder folder_{"raidctl-test-"};
};

TEST_F(RaidctlTest, DiscoverListsBothEnclosuresAndTracesOnlyTheFourLineForms) {
  const fs::path trace = folder_ / "trace.txt";
  const ProcessResult run =
      RunRaidctl("RAIDGUI_TRACE=" + trace.string(),
                 "discover --simulate " + Scenario("two_enclosures_three_disks.json"));
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_THAT(run.out, ::testing::HasSubstr("RAID bridge"));
  EXPECT_THAT(run.out, ::testing::HasSubstr("port-multiplier bridge"));
  EXPECT_THAT(run.out, ::testing::HasSubstr("TORVANE TR6182 Dual SATA RAID"));

  const std::regex form(R"(open [0-9A-Za-z/:._-]+|read [0-9a-f]{8} [0-9]+|inquiry|close)");
  const std::vector<std::string> lines = ReadLines(trace);
  ASSERT_GT(lines.size(), 100U);
  for (const std::string& line : lines)
    EXPECT_TRUE(std::regex_match(line, form)) << line;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "inquiry"), 1);
}

TEST_F(RaidctlTest, DiscoverJsonNamesEachEnclosure) {
  const ProcessResult run = RunRaidctl("", "discover --json --simulate " + Scenario("demo.json"));
  ASSERT_EQ(run.exit_code, 0);
  const nlohmann::json document = nlohmann::json::parse(run.out);
  ASSERT_EQ(document["enclosures"].size(), 2U);
  EXPECT_EQ(document["enclosures"][0]["controller_kind"], 0);
  EXPECT_EQ(document["enclosures"][1]["position"], 1);
  EXPECT_FALSE(document["enclosures"][1]["model"].get<std::string>().empty());
}

TEST_F(RaidctlTest, StatusShowsWhatTheStatusPageShows) {
  const ProcessResult run =
      RunRaidctl(Env(), "status --simulate " + Scenario("two_enclosures_three_disks.json"));
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_THAT(run.out, ::testing::HasSubstr("Mirroring(RAID1)"));
  EXPECT_THAT(run.out, ::testing::HasSubstr("State:            Normal"));
  EXPECT_FALSE(fs::exists(folder_ / "logs"));  // one look writes no log

  const ProcessResult json = RunRaidctl(Env(), "status --json --simulate " + Scenario("demo.json"));
  ASSERT_EQ(json.exit_code, 0);
  const nlohmann::json document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["enclosures"][0]["drives"].size(), 2U);
  EXPECT_EQ(document["enclosures"][0]["mode_name"], "Mirroring(RAID1)");
}

// Two enclosures: the first with HDD2 missing and a pending sector on HDD1, the second wired
// HDD1-to-second-port, its HDD1 failing a seek-error threshold and answering IDENTIFY with no
// echo at all.
constexpr const char* kSmartScenario = R"({ "drives": [
  { "number": 1, "type": "enclosure", "members": [
    { "word106": "0x4000", "smart": { "attributes": [ { "id": "0xC5", "raw": 1 } ] } }, null ] },
  { "number": 2, "type": "enclosure", "port_order_bit": false, "members": [
    { "model": "SEEKER 2000", "smart": { "replace_defaults": true, "attributes": [
      { "id": 7, "current": 29, "worst": 29, "threshold": 30 }, { "id": 16, "raw": "0x0102" } ] } },
    {} ],
    "faults": { "drive_command_faults": [ { "feature": "0xEC", "echo": [0, 0] } ] } } ] })";

TEST_F(RaidctlTest, SmartShowsEachDrivesTableVerdictAndFourKAnswer) {
  const fs::path scenario = folder_ / "smart.json";
  std::ofstream(scenario) << kSmartScenario;
  const ProcessResult run = RunRaidctl(Env(), "smart --simulate " + scenario.string());
  ASSERT_EQ(run.exit_code, 0);
  const std::vector<std::string> expected = {
      "Device1 (physical drive 1)",
      "  HDD1: NORTHWIND NW1000SA-01",
      "    C5-Current pending sector count          100   100         0  000000000001  Alert",
      "    Overall: Warning",
      "    4K Sector supported : No (WORD[106]=0x4000)",
      "  HDD2: absent",
      "Device2 (physical drive 2)",
      "  HDD1: SEEKER 2000",
      "    07-Seek error rate                        29    29        30  000000000000  Error",
      "    10h-UnKnown                              100   100         0  000000000102  Good",
      "    Overall: Error",
      "    4K Sector supported : Unknown (Code=0x8000)",
      "  HDD2: NORTHWIND NW1000SA-01",
  };
  std::size_t from = 0;
  for (const std::string& line : expected) {
    const std::size_t at = run.out.find(line + "\n", from);
    ASSERT_NE(at, std::string::npos) << line << "\n" << run.out;
    from = at + line.size();
  }

  const ProcessResult json = RunRaidctl(Env(), "smart --json --simulate " + scenario.string());
  ASSERT_EQ(json.exit_code, 0);
  const nlohmann::json enclosures = nlohmann::json::parse(json.out)["enclosures"];
  ASSERT_EQ(enclosures.size(), 2U);
  EXPECT_EQ(enclosures[0]["drives"][1], nlohmann::json({{"name", "HDD2"}, {"present", false}}));
  const nlohmann::json& seeker = enclosures[1]["drives"][0];
  EXPECT_EQ(seeker["overall"], "Error");
  EXPECT_EQ(seeker["four_k_sectors"], "Unknown");
  EXPECT_EQ(seeker["word106"], 0x8000);
  EXPECT_EQ(seeker["attributes"][0], nlohmann::json({{"id", 7},
                                                     {"name", "Seek error rate"},
                                                     {"value", 29},
                                                     {"worst", 29},
                                                     {"threshold", 30},
                                                     {"raw", "000000000000"},
                                                     {"status", "Error"}}));
  EXPECT_EQ(seeker["attributes"][1]["name"], "UnKnown");
  EXPECT_EQ(enclosures[1]["drives"][1]["four_k_sectors"], "Yes");
}

TEST_F(RaidctlTest, SmartFailsWithoutAnEnclosureOrWhenADriveCannotBeRead) {
  const fs::path no_enclosure = folder_ / "disk.json";
  std::ofstream(no_enclosure) << R"({ "drives": [ { "number": 0, "type": "disk" } ] })";
  const ProcessResult none = RunRaidctl(Env(), "smart --simulate " + no_enclosure.string());
  EXPECT_NE(none.exit_code, 0);
  EXPECT_EQ(none.out, "No enclosure found.\n");

  const fs::path failing = folder_ / "failing.json";
  std::ofstream(failing) << R"({ "drives": [ { "number": 1, "type": "enclosure",
    "faults": { "drive_command_faults": [ { "feature": "0xD0", "times": 4 } ] } } ] })";
  const ProcessResult run = RunRaidctl(Env(), "smart --json --simulate " + failing.string());
  EXPECT_EQ(run.exit_code, 1);
  const nlohmann::json drives = nlohmann::json::parse(run.out)["enclosures"][0]["drives"];
  EXPECT_EQ(drives[0]["read_failed"], true);
  EXPECT_EQ(drives[0]["attributes"].size(), 0U);  // nothing was read before
  EXPECT_EQ(drives[1]["read_failed"], false);
}

TEST_F(RaidctlTest, BadInputIsAnErrorOnStderrWithExitStatusTwo) {
  const fs::path err = folder_ / "err.txt";
  EXPECT_EQ(RunRaidctl("", "frobnicate", err.string()).exit_code, 2);
  EXPECT_THAT(ReadLines(err).front(), ::testing::HasSubstr("unknown command frobnicate"));
  EXPECT_EQ(RunRaidctl("", "monitor --for -3 --simulate x", err.string()).exit_code, 2);
  EXPECT_EQ(RunRaidctl("", "discover --simulate /nonexistent.json", err.string()).exit_code, 2);
  EXPECT_THAT(ReadLines(err).front(), ::testing::HasSubstr("/nonexistent.json"));
  EXPECT_EQ(RunRaidctl("", "status --metrics m.prom --simulate x", err.string()).exit_code, 2);
  EXPECT_EQ(ReadLines(err).front(), "raidctl: --metrics only applies to monitor");
  EXPECT_EQ(RunRaidctl("", "monitor --metrics '' --simulate x", err.string()).exit_code, 2);
  EXPECT_EQ(ReadLines(err).front(), "raidctl: --metrics needs a file");
  EXPECT_EQ(RunRaidctl("", "monitor --for 1 --for 2 --simulate x", err.string()).exit_code, 2);
  EXPECT_EQ(ReadLines(err).front(), "raidctl: --for is given twice");
  EXPECT_EQ(RunRaidctl("", "firmware check f --device 11", err.string()).exit_code, 2);
}

// Every line of the story's log is one the log defines, in the order the story dictates.
// A reader of stdout that goes away stops only the printing: said once, and the story is logged
// to its end.
TEST_F(RaidctlTest, MonitorWhoseOutputReaderLeavesGoesOnLogging) {
  const fs::path err = folder_ / "err.txt";
  const fs::path status = folder_ / "status.txt";
  const fs::path story = ScenarioStartingAt("rebuild_story.json", "2026-12-08 12:00:00", folder_);
  raid::testing::RunShellCommand("(" + Env() + " " + RAIDCTL_PATH +
                                 " monitor --for 600 --simulate " + story.string() + " 2>" +
                                 err.string() + "; echo $? >" + status.string() + ") | true");
  EXPECT_EQ(ReadLines(status), std::vector<std::string>{"0"});
  const std::vector<std::string> said = ReadLines(err);
  EXPECT_EQ(std::count_if(said.begin(), said.end(),
                          [](const std::string& line) {
                            return line.find("standard output cannot be written") !=
                                   std::string::npos;
                          }),
            1);
  const std::vector<std::string> lines = ReadLines(folder_ / "logs" / "261208.log");
  EXPECT_THAT(lines, ::testing::Contains(::testing::HasSubstr("HDD1 --> HDD2")));
}

TEST_F(RaidctlTest, MonitoredRebuildStoryWritesTheExpectedLog) {
  const fs::path err = folder_ / "err.txt";
  const fs::path story = ScenarioStartingAt("rebuild_story.json", "2026-12-08 12:00:00", folder_);
  const ProcessResult run =
      RunRaidctl(Env(), "monitor --for 600 --simulate " + story.string(), err.string());
  ASSERT_EQ(run.exit_code, 0);
  // The pulled drive's alert names it as the log does.
  EXPECT_THAT(ReadLines(err),
              ::testing::Contains("raidctl: alert \"Hard Disks Fail\" for Device1 HDD2"));
  const std::vector<fs::path> files = DailyLogFiles(folder_ / "logs");
  ASSERT_EQ(files.size(), 1U);
  EXPECT_EQ(files[0].filename(), "261208.log");
  const std::vector<std::string> lines = ReadLines(files[0]);
  // What was echoed is what was logged.
  EXPECT_EQ(run.out, [&] {
    std::string all;
    for (const std::string& line : lines)
      all += line + "\n";
    return all;
  }());

  const std::string stamp = R"(.+ .+)";
  const std::vector<std::regex> expected_order = {
      std::regex(std::string(83, '-')),
      std::regex("RAID GUI v0\\.50\\.11-4 has started from " + stamp),
      std::regex("Device1 information :"),
      std::regex("Model# .+"),
      std::regex(R"(Mirroring\(RAID1\), F/W Rev\. .+)"),
      std::regex(R"(Configured Capacity : \d+ GB\(\d+ Sectors\))"),
      std::regex(R"(  HDD1 is present\.\(SATA\)00)"),
      std::regex(R"(    Model no\.: .+)"),
      std::regex(R"(    Serial no\.: ".+")"),
      std::regex(R"(    Capacity : \d+ GB\(\d+ Sectors\))"),
      std::regex(R"(  HDD2 is present\.\(SATA\)00)"),
      std::regex(R"(    Model no\.: .+)"),
      std::regex(R"(    Serial no\.: ".+")"),
      std::regex(R"(    Capacity : \d+ GB\(\d+ Sectors\))"),
      std::regex(std::string(83, '-')),
      std::regex("D1 HDD2 was removed, [0-9A-F]{2}" + stamp),
      std::regex("D1 HDD2 was inserted, 06" + stamp),
      std::regex(R"(D1 HDD2 was initialized, \(SATA\), 0[01])" + stamp),
      std::regex(R"(  Model no\.: NORTHWIND NW1000SA-02)"),
      std::regex(R"(  Serial no\.: "NW1A00009901 *")"),
      std::regex(R"(  Capacity : 931 GB\(1953525168 Sectors\))"),
  };
  ASSERT_GT(lines.size(), expected_order.size() + 2);
  for (std::size_t i = 0; i < expected_order.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], expected_order[i])) << "line " << i << ": " << lines[i];
  }
  const std::regex progress(R"(D1 HDD1 --> HDD2 (\d+)%, )" + stamp);
  int last_percent = -1;
  std::size_t i = expected_order.size();
  for (; i + 1 < lines.size(); ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, progress)) << lines[i];
    const int percent = std::stoi(match[1]);
    EXPECT_GT(percent, last_percent);
    last_percent = percent;
  }
  EXPECT_TRUE(std::regex_match(lines.back(),
                               std::regex("D1 (HDD1 OK, HDD2 OK, |HDD1 --> HDD2 Done, )" + stamp)))
      << lines.back();
}

// A story that goes past midnight goes on in the next day's file, which opens with the
// enclosures as they are then and no start line. The drive that went in just before midnight
// is logged once the new day's section is written, and nothing is lost on the way.
TEST_F(RaidctlTest, MonitoredStoryPastMidnightGoesOnInTheNextDaysFile) {
  const fs::path story = ScenarioStartingAt("rebuild_story.json", "2026-12-08 23:58:20", folder_);
  const ProcessResult run = RunRaidctl(Env(), "monitor --for 400 --simulate " + story.string());
  ASSERT_EQ(run.exit_code, 0);
  const std::vector<fs::path> files = DailyLogFiles(folder_ / "logs");
  ASSERT_EQ(files.size(), 2U);
  EXPECT_EQ(files[0].filename(), "261208.log");
  EXPECT_EQ(files[1].filename(), "261209.log");
  const std::vector<std::string> first = ReadLines(files[0]);
  const std::vector<std::string> second = ReadLines(files[1]);
  EXPECT_EQ(run.out, [&] {
    std::string all;
    for (const std::vector<std::string>* day : {&first, &second}) {
      for (const std::string& line : *day)
        all += line + "\n";
    }
    return all;
  }());

  const std::string separator(83, '-');
  ASSERT_GT(first.size(), 16U);
  EXPECT_THAT(first[1], ::testing::HasSubstr(" has started from 12/08/26 23:58:2"));
  EXPECT_THAT(first.back(), ::testing::StartsWith("D1 HDD2 was inserted, 0612/08/26 23:59:"));
  ASSERT_GT(second.size(), 12U);
  EXPECT_EQ(second[0], separator);
  EXPECT_EQ(second[1], "Device1 information :");
  EXPECT_THAT(second, ::testing::Not(::testing::Contains(::testing::HasSubstr(" has started "))));
  const auto closing = std::find(second.begin() + 1, second.end(), separator);
  ASSERT_NE(closing, second.end());
  // The new day's first call writes its section and the rebuild's progress, and no drive
  // change: the drive that joined the array then is logged by the next call.
  ASSERT_GT(second.end() - closing, 2);
  EXPECT_EQ(*(closing + 1), "D1 HDD1 --> HDD2 1%, 12/09/26 00:00:03");
  EXPECT_EQ(*(closing + 2), "D1 HDD2 was initialized, (SATA), 0112/09/26 00:00:08");
  EXPECT_THAT(second.back(),
              ::testing::MatchesRegex("D1 (HDD1 OK, HDD2 OK, |HDD1 --> HDD2 Done, ).*"));
}

// A read that fails ends its exchange; the next one starts again with the preamble, which the
// controller takes as a fresh start, not as a broken packet.
TEST_F(RaidctlTest, ReadFaultsEndExchangesWithoutAnyProtocolViolation) {
  const fs::path err = folder_ / "err.txt";
  const ProcessResult discover =
      RunRaidctl(Env(), "discover --simulate " + Scenario("read_faults.json"), err.string());
  EXPECT_EQ(discover.exit_code, 0);
  EXPECT_THAT(discover.out, ::testing::HasSubstr("port-multiplier bridge"));
  const ProcessResult monitor = RunRaidctl(
      Env(), "monitor --for 120 --simulate " + Scenario("read_faults.json"), err.string());
  EXPECT_EQ(monitor.exit_code, 0);
  for (const std::string& line : ReadLines(err)) {
    EXPECT_THAT(line, ::testing::Not(::testing::HasSubstr("protocol violation")));
  }
}

// Until an enclosure is there, nothing is polled and nothing is logged; the enclosure plugged in
// later is found by the recount, and the run has exactly one start section.
TEST_F(RaidctlTest, MonitorFindsAnEnclosurePluggedInLaterAndLogsOneStartSection) {
  const fs::path scenario = folder_ / "late.json";
  std::ofstream(scenario) << R"({ "starts_at": "2026-12-08 12:00:00",
    "drives": [ { "number": 0, "type": "disk" } ],
    "timeline": [ { "at_s": 20, "drive": 2, "action": "plug",
                    "device": { "type": "enclosure" } } ] })";
  const fs::path err = folder_ / "err.txt";
  const ProcessResult run =
      RunRaidctl(Env(), "monitor --for 300 --simulate " + scenario.string(), err.string());
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_THAT(ReadLines(err), ::testing::Contains("raidctl: no enclosure found; waiting for one"));
  const std::vector<fs::path> files = DailyLogFiles(folder_ / "logs");
  ASSERT_EQ(files.size(), 1U);
  const std::vector<std::string> lines = ReadLines(files[0]);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) {
                            return line.find(" has started from ") != std::string::npos;
                          }),
            1);
  EXPECT_THAT(lines, ::testing::Contains("Device1 information :"));
  // The separator, the start line, one device block of 12 lines, the separator.
  EXPECT_EQ(lines.size(), 15U);
}

// A FIFO in the log's place would block the first save for ever, and Ctrl-C with it.
TEST_F(RaidctlTest, MonitorRefusesALogPathThatIsNotARegularFileAtOnce) {
  fs::create_directories(folder_ / "logs");
  const fs::path fifo = folder_ / "logs" / "261208.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path err = folder_ / "err.txt";
  const fs::path story = ScenarioStartingAt("demo.json", "2026-12-08 12:00:00", folder_);
  const ProcessResult run =
      RunRaidctl("timeout 20 env " + Env(), "monitor --simulate " + story.string(), err.string());
  EXPECT_EQ(run.exit_code, 1);  // 124 would be the time-out's
  EXPECT_THAT(ReadLines(err), ::testing::Contains(::testing::AllOf(
                                  ::testing::HasSubstr(fifo.string()),
                                  ::testing::HasSubstr("is not a regular file (a FIFO)"))));
  EXPECT_TRUE(fs::is_fifo(fifo));
}

// A save that failed gets one more try at the stop: lines the file takes by then are saved and
// said to be, not reported lost.
TEST_F(RaidctlTest, MonitorTriesOnceMoreAtTheStopToSaveWaitingLines) {
  fs::create_directories(folder_ / "logs");
  const fs::path day = folder_ / "logs" / "261208.log";
  const int held = ::open(day.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);  // another program's save that does not end
  const fs::path story = ScenarioStartingAt("demo.json", "2026-12-08 12:00:00", folder_);
  const fs::path err = folder_ / "err.txt";
  raid::testing::SpawnedProcess monitor(
      {RAIDCTL_PATH, "monitor", "--realtime", "--simulate", story.string()}, folder_ / "out.txt",
      err, {Env()});
  ASSERT_TRUE(monitor.started());
  const auto failed = [&] {
    return std::ranges::any_of(ReadLines(err), [](const std::string& line) {
      return line.find("The daily log cannot be saved now") != std::string::npos;
    });
  };
  for (int i = 0; i < 500 && !failed(); ++i)
    usleep(20000);
  ASSERT_TRUE(failed());
  ::close(held);  // the lock is gone; the next poll is seconds away
  ASSERT_TRUE(monitor.Signal(SIGTERM));
  EXPECT_EQ(monitor.Wait(std::chrono::seconds(20)), 0);
  EXPECT_THAT(ReadLines(err),
              ::testing::Contains("raidctl: The daily log is saved again; no line was lost."));
  EXPECT_GT(ReadLines(day).size(), 10U);
}

// A log kept private stays private, also through a symbolic link.
TEST_F(RaidctlTest, MonitorKeepsTheLogFilesModeThroughALink) {
  fs::create_directories(folder_ / "logs");
  fs::create_directories(folder_ / "private");
  const fs::path target = folder_ / "private" / "today.log";
  { std::ofstream(target) << "earlier line\n"; }
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  const fs::path link = folder_ / "logs" / "261208.log";
  fs::create_symlink(target, link);

  const fs::path story = ScenarioStartingAt("demo.json", "2026-12-08 12:00:00", folder_);
  ASSERT_EQ(RunRaidctl(Env(), "monitor --for 30 --simulate " + story.string()).exit_code, 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const std::vector<std::string> lines = ReadLines(target);
  ASSERT_GT(lines.size(), 10U);
  EXPECT_EQ(lines.front(), "earlier line");
}

// A bridge that stops answering holds a read until its time-out. The first SIGTERM waits for
// the read and an orderly stop; a second one ends raidctl at once.
TEST_F(RaidctlTest, ASecondSigtermEndsAMonitorStuckInAHungRead) {
  const fs::path scenario = folder_ / "hung.json";
  std::ofstream(scenario) << R"({ "drives": [ { "number": 1, "type": "enclosure",
      "faults": { "hold_reads": [ { "lba": 17, "ms": 25000, "times": 5 } ] } } ] })";
  const pid_t pid = SpawnMonitor({"--realtime", "--simulate", scenario.string()});
  ASSERT_GT(pid, 0);

  usleep(700000);  // discovery's first query is now in the held read
  kill(pid, SIGTERM);
  usleep(300000);
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "it should still be in the read";
  kill(pid, SIGTERM);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

TEST_F(RaidctlTest, MonitorStopsCleanlyOnSigterm) {
  const std::string log_dir = (folder_ / "logs").string();
  const pid_t pid = SpawnMonitor({"--simulate", Scenario("demo.json")});
  ASSERT_GT(pid, 0);
  // Wait until the first log section is on disk, then ask it to stop.
  for (int i = 0; i < 200 && !fs::exists(log_dir); ++i)
    usleep(20000);
  usleep(100000);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "raidctl did not end by itself";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(log_dir))
    files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1U);
  EXPECT_GT(ReadLines(files[0]).size(), 10U);
}

}  // namespace
