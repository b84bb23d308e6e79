// SPDX-License-Identifier: GPL-2.0-or-later
// The hook runner: the platform's run of one program (with a probe program as the hook, also
// under Wine), and the worker that runs the events in order and reports what did not work.
#include "cli/event_hook.h"
#include "support/build_paths.h"
#include "support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace raid::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

// Never set: the monitor runs on.
const std::atomic<bool> kGoOn{false};

const std::chrono::system_clock::time_point kWhen{std::chrono::seconds(1709251199)};

MonitorEvent Event(MonitorEventKind kind, unsigned enclosure, std::optional<unsigned> port = {},
                   std::string line = "") {
  return {kind, enclosure, port, std::move(line), kWhen};
}

void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

class EventHookProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { SetVariable("HOOK_PROBE_RECORD", record_.string()); }
  std::vector<std::string> Recorded() const {
    std::ifstream file(record_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
      lines.push_back(line);
    return lines;
  }
  testing::TempFolder folder_{"event-hook-"};
  fs::path record_ = folder_ / "record.txt";
};

// The hook sees raidctl's own environment (the probe finds its record file through it) with the
// event's variables, which replace any of the same name raidctl was started with.
TEST_F(EventHookProgramTest, RunsTheProgramWithTheEventAddedToItsEnvironment) {
  SetVariable("RAIDCTL_PORT", "stale");
  const MonitorEvent found = Event(MonitorEventKind::kDeviceFound, 2, std::nullopt,
                                   "D2 New Device was found.02/29/24 23:59:59");
  HookOutcome outcome = RunHookProgram(HOOK_PROBE_PATH, HookVariables(found), 20s, kGoOn);
  EXPECT_EQ(outcome.kind, HookOutcome::Kind::kExited);
  EXPECT_EQ(outcome.code, 0U);

  const MonitorEvent failed = Event(MonitorEventKind::kDiskFail, 1, 2, "D1 HDD2 was removed, 03");
  outcome = RunHookProgram(HOOK_PROBE_PATH, HookVariables(failed), 20s, kGoOn);
  EXPECT_EQ(outcome.kind, HookOutcome::Kind::kExited);
  EXPECT_THAT(Recorded(),
              ElementsAre("device-found|2||D2 New Device was found.02/29/24 23:59:59|"
                          "2024-02-29T23:59:59Z",
                          "disk-fail|1|2|D1 HDD2 was removed, 03|2024-02-29T23:59:59Z"));
}

TEST_F(EventHookProgramTest, TellsAFailingAHangingAndAMissingProgramApart) {
  const HookOutcome failing = RunHookProgram(
      HOOK_PROBE_PATH, HookVariables(Event(MonitorEventKind::kFanFail, 1)), 20s, kGoOn);
  EXPECT_EQ(failing.kind, HookOutcome::Kind::kExited);
  EXPECT_EQ(failing.code, 3U);

  // The probe hangs for a minute; the limit ends it.
  const auto start = std::chrono::steady_clock::now();
  const HookOutcome hanging = RunHookProgram(
      HOOK_PROBE_PATH, HookVariables(Event(MonitorEventKind::kOverHeat, 1)), 300ms, kGoOn);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(hanging.kind, HookOutcome::Kind::kTimedOut);
  EXPECT_GE(took, 300ms);
  EXPECT_LT(took, 20s);

  // A monitor that stops ends it long before its limit.
  std::atomic<bool> abandon{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(300ms);
    abandon = true;
  });
  const auto begun = std::chrono::steady_clock::now();
  const HookOutcome abandoned = RunHookProgram(
      HOOK_PROBE_PATH, HookVariables(Event(MonitorEventKind::kOverHeat, 1)), 60s, abandon);
  stopper.join();
  EXPECT_EQ(abandoned.kind, HookOutcome::Kind::kAbandoned);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, 10s);

  const HookOutcome missing =
      RunHookProgram((folder_ / "no-such-hook").string(),
                     HookVariables(Event(MonitorEventKind::kFanFail, 1)), 20s, kGoOn);
  EXPECT_EQ(missing.kind, HookOutcome::Kind::kNotStarted);
  EXPECT_FALSE(missing.why.empty());
  EXPECT_EQ(Recorded().size(), 3U);  // the missing one ran nothing
}

// Reports collected from the worker thread.
class Reports {
 public:
  EventHookRunner::Reporter Sink() {
    return [this](const std::string& text) {
      std::lock_guard lock(mutex_);
      lines_.push_back(text);
    };
  }
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST(EventHookThreadTest, RunsEachEventInOrderAndReportsEveryFailure) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> launched;
  const auto launch = [&](const std::string& program, const HookEnvironment& variables,
                          std::chrono::milliseconds limit, const std::atomic<bool>&) {
    EXPECT_EQ(program, "/etc/raidctl/hook");
    EXPECT_EQ(limit, 1500ms);
    std::lock_guard lock(mutex);
    launched.push_back(variables.at(0).second + " " + variables.at(2).second);
    changed.notify_all();
    HookOutcome outcome;
    switch (launched.size()) {
      case 1:
        outcome.code = 2;
        break;
      case 2:
        outcome.kind = HookOutcome::Kind::kSignalled;
        outcome.code = 9;
        outcome.why = "Killed";
        break;
      case 3:
        outcome.kind = HookOutcome::Kind::kTimedOut;
        break;
      case 4:
        outcome.kind = HookOutcome::Kind::kNotStarted;
        outcome.why = "No such file or directory";
        break;
      case 5:
        outcome.code = 0xC0000005;  // a crash on Windows
        break;
    }
    return outcome;
  };
  Reports reports;
  EventHookRunner runner("/etc/raidctl/hook", 1500ms, reports.Sink(), launch);
  runner.Post(Event(MonitorEventKind::kDiskFail, 1, 2));
  runner.Post(Event(MonitorEventKind::kDeviceRemoved, 2));
  runner.Post(Event(MonitorEventKind::kOverHeat, 1));
  runner.Post(Event(MonitorEventKind::kFanFail, 1));
  runner.Post(Event(MonitorEventKind::kDeviceFound, 2));
  runner.Post(Event(MonitorEventKind::kDiskFail, 1, 1));
  // Stop lets the running one finish but drops what waits: wait until the last has begun.
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return launched.size() == 6; }));
  }
  runner.Stop();

  EXPECT_THAT(launched, ElementsAre("disk-fail 2", "device-removed ", "over-heat ", "fan-fail ",
                                    "device-found ", "disk-fail 1"));
  EXPECT_THAT(
      reports.Lines(),
      ElementsAre(
          "raidctl: hook /etc/raidctl/hook for disk-fail of Device1 HDD2: exited with status 2",
          "raidctl: hook /etc/raidctl/hook for device-removed of Device2: killed by signal 9 "
          "(Killed)",
          "raidctl: hook /etc/raidctl/hook for over-heat of Device1: stopped after its limit of "
          "1.5 s",
          "raidctl: hook /etc/raidctl/hook for fan-fail of Device1: could not be started: No such "
          "file or directory",
          "raidctl: hook /etc/raidctl/hook for device-found of Device2: exited with status "
          "0xC0000005"));
}

// One hook runs and holds the worker: the queue fills, the next event is reported as not run,
// and at the stop the running hook finishes while those waiting are reported, never run.
TEST(EventHookThreadTest, AFullQueueAndTheStopReportEventsNotRun) {
  std::mutex mutex;
  std::condition_variable changed;
  bool running = false;
  bool release = false;
  std::vector<std::string> launched;
  const auto launch = [&](const std::string&, const HookEnvironment& variables,
                          std::chrono::milliseconds, const std::atomic<bool>&) {
    std::unique_lock lock(mutex);
    launched.push_back(variables.at(0).second);
    running = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
    return HookOutcome{};
  };
  Reports reports;
  EventHookRunner runner("hook", 30s, reports.Sink(), launch, 2);
  runner.Post(Event(MonitorEventKind::kDiskFail, 1, 2));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return running; }));
  }
  runner.Post(Event(MonitorEventKind::kDeviceRemoved, 1));
  runner.Post(Event(MonitorEventKind::kDeviceFound, 1));
  runner.Post(Event(MonitorEventKind::kOverHeat, 1));
  EXPECT_THAT(reports.Lines(),
              ElementsAre("raidctl: hook hook for over-heat of Device1: not run: 2 events wait "
                          "already"));

  std::thread stopper([&] { runner.Stop(); });
  // Once the stop has begun, a new event is turned away at once.
  const std::string turned_away =
      "raidctl: hook hook for fan-fail of Device1: not run: the "
      "monitor stopped";
  for (int i = 0; i < 4000; ++i) {
    runner.Post(Event(MonitorEventKind::kFanFail, 1));
    if (reports.Lines().back() == turned_away) break;
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(reports.Lines().back(), turned_away);
  {
    std::lock_guard lock(mutex);
    release = true;
    changed.notify_all();
  }
  stopper.join();

  EXPECT_THAT(launched, ElementsAre("disk-fail"));
  const std::vector<std::string> lines = reports.Lines();
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(lines[lines.size() - 2],
            "raidctl: hook hook for device-removed of Device1: not run: the monitor stopped");
  EXPECT_EQ(lines.back(),
            "raidctl: hook hook for device-found of Device1: not run: the monitor stopped");
}

}  // namespace
}  // namespace raid::cli
