// SPDX-License-Identifier: GPL-2.0-or-later
// The window's threads for real: the detection thread and the RAID worker run the schedule's
// work while this test plays the window thread (timer ticks, list installation, reading the
// published log and the captions). Run under ThreadSanitizer by the test command.
#include "monitor/worker_threads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "events/shared_event_log.h"
#include "health/smart_page_view.h"
#include "monitor/monitor_core.h"
#include "sim_host.h"
#include "status/device_captions.h"
#include "support/quiet_schedule_view.h"
#include "support/recording_ui_sink.h"
#include "support/story_time.h"
#include "support/temp_folder.h"
#include "support/throwing_disk_system.h"

namespace raid {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr double kSpeed = 50.0;

using QuietView = testing::QuietScheduleView;

TEST(WorkerThreadsConcurrent, WorkersPollAndDiscoverWhileTheWindowThreadTicksAndReads) {
  const testing::TempFolder folder("raidgui-workers-");
  sim::Scenario scenario;
  scenario.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
  sim::EnclosureSpec rebuilding;
  rebuilding.rebuild = sim::RebuildSpec{1, 60000};
  scenario.drives[1] = sim::DriveSpec(rebuilding);
  scenario.volumes.push_back({"E", DriveType::kFixed, DiskExtent{1, 0, 1000}, true});
  // A second enclosure that comes and goes: many lists are installed while polls run. It stays a
  // minute each time, long enough for a discovery pass under ThreadSanitizer, which slows one to
  // tens of seconds of the scaled clock.
  for (std::uint64_t at = 5000; at < 1000000; at += 90000) {
    scenario.timeline.push_back(
        {at, 3, sim::action::Plug{sim::DriveSpec(sim::EnclosureSpec::PortMultiplier())}});
    scenario.timeline.push_back({at + 60000, 3, sim::action::Unplug{}});
  }
  ScaledClock clock(kSpeed, testing::StoryNoon());
  sim::SimHost host(scenario, clock);

  testing::RecordingUiSink window_ui;
  DeferredUiSink worker_ui;
  QuietView view;
  MonitorCore core(host, clock, window_ui, worker_ui, view, folder);
  SharedEventLog shared_log;
  std::atomic<int> refreshes{0};
  core.SetAfterDetection([&](std::uint8_t) {
    shared_log.Publish(core.log());
    ++refreshes;
  });
  RecountWatcher watcher(host, clock);
  WorkerThreads workers(core.schedule(), kSpeed);
  workers.SetRecountWatcher(&watcher, [&] { core.schedule().DeviceChanged(); });
  core.schedule().Start();
  workers.Start();

  // The window thread: the timers at their (scaled) intervals, and what its handlers read.
  const auto start = std::chrono::steady_clock::now();
  const auto tick = std::chrono::milliseconds(static_cast<int>(kDetectionTimerMs / kSpeed));
  std::uint64_t tick_count = 0;
  std::size_t shown_lines = 0;
  std::uint64_t generation = 0;
  const auto follow_log = [&] {  // as the viewer follows it
    const EventLogSnapshot snapshot = shared_log.Snapshot(shown_lines);
    if (snapshot.generation != generation) {
      generation = snapshot.generation;
      shown_lines = shared_log.Snapshot(0).count;
    } else {
      shown_lines += snapshot.lines.size();
    }
  };
  // Three seconds at least, and on until the second enclosure has been logged (a slow build).
  const auto second_logged = [&] {
    for (const std::string& line : shared_log.Snapshot(0).lines)
      if (line.find("D2 New Device was found.") != std::string::npos) return true;
    return false;
  };
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(3000) ||
         (!second_logged() &&
          std::chrono::steady_clock::now() - start < std::chrono::milliseconds(30000))) {
    core.schedule().TickDetection();
    // Polls as often as the schedule lets them run, to meet the installations.
    if (core.schedule().StatusPollsOn()) core.schedule().RequestStatusPoll();
    if (tick_count % 2 == 0 && core.schedule().SmartCountdownOn())
      core.schedule().TickSmartCountdown();
    ++tick_count;
    worker_ui.ReplayInto(window_ui);
    follow_log();
    if (!core.device().registry().current.empty()) {
      const DeviceCaptions captions = ComputeDeviceCaptions(core.device().registry(), 0);
      EXPECT_FALSE(captions.firmware_version_text.empty());
    }
    // The SMART page draws from copies while the RAID worker reads.
    const SmartPageView smart = BuildSmartPageView({0, "", *core.smart_store().Snapshot(0, 0)});
    EXPECT_LE(smart.rows.size(), kSmartSlots);
    std::this_thread::sleep_for(tick);
  }
  workers.RequestStop();
  EXPECT_TRUE(workers.WaitStopped(std::chrono::seconds(10)));
  worker_ui.ReplayInto(window_ui);
  follow_log();

  // How far the story got depends on how fast the threads ran (ThreadSanitizer slows them a
  // lot); that they polled, found the second enclosure and logged it does not.
  EXPECT_GT(refreshes.load(), 5);
  const std::vector<std::string> lines = shared_log.Snapshot(0).lines;
  EXPECT_THAT(lines, Contains(HasSubstr("D1 HDD1 --> HDD2 ")));
  EXPECT_THAT(lines, Contains(HasSubstr("D2 New Device was found.")));
  // The RAID worker read the SMART data the installed list asked for.
  EXPECT_GT(SmartRowCount(core.smart_store().Snapshot(0, 0)->data), 0U);
  EXPECT_EQ(shown_lines, lines.size());
  EXPECT_THAT(host.recorder().ViolationTexts(), IsEmpty());
}

// A work item that throws: its worker reports the exception and goes on, and the item ends as a
// failure, neither installed nor left running. The pass runs again after the settle delay; the
// polls go on at their next request.
TEST(WorkerThreadsFailures, AWorkItemThatThrowsIsReportedAndEndsAsAFailure) {
  const testing::TempFolder folder("raidgui-throws-");
  sim::Scenario scenario;
  scenario.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  ScaledClock clock(kSpeed, testing::StoryNoon());
  sim::SimHost host(scenario, clock);
  testing::ThrowingDiskSystem disks(host);
  disks.ThrowAt(3, "discovery broke");  // within the first pass

  testing::RecordingUiSink window_ui;
  DeferredUiSink worker_ui;
  QuietView view;
  MonitorCore core(disks, clock, window_ui, worker_ui, view, folder);
  std::atomic<int> refreshes{0};
  core.SetAfterDetection([&](std::uint8_t mask) { refreshes += mask == 1 ? 1 : 0; });
  WorkerThreads workers(core.schedule(), kSpeed);
  DeferredUiSink reports;  // as the window receives them
  workers.SetFailureReport([&](const MessageBoxRequest& box) { reports.ShowMessage(box); });
  core.schedule().Start();
  workers.Start();

  testing::RecordingUiSink shown;
  const auto tick = std::chrono::milliseconds(static_cast<int>(kDetectionTimerMs / kSpeed));
  const auto run_window_until = [&](const std::function<bool()>& done) {
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
      core.schedule().TickDetection();
      if (core.schedule().StatusPollsOn()) core.schedule().RequestStatusPoll();
      worker_ui.ReplayInto(window_ui);
      reports.ReplayInto(shown);
      if (done()) return true;
      std::this_thread::sleep_for(tick);
    }
    return false;
  };
  const MessageBoxRequest discovery_broke{"Error", "discovery broke", MessageIcon::kError};
  const MessageBoxRequest poll_broke{"Error", "the bridge went away", MessageIcon::kError};

  ASSERT_TRUE(run_window_until([&] { return refreshes.load() > 0; }));
  EXPECT_THAT(shown.messages, ElementsAre(discovery_broke));
  EXPECT_EQ(core.device().registry().current.size(), 1U);

  const int before = refreshes.load();
  disks.ThrowAt(2, "the bridge went away");  // within the RAID worker's next item
  EXPECT_TRUE(
      run_window_until([&] { return disks.thrown() == 2 && refreshes.load() > before + 1; }));
  EXPECT_THAT(shown.messages, ElementsAre(discovery_broke, poll_broke));

  workers.RequestStop();
  EXPECT_TRUE(workers.WaitStopped(std::chrono::seconds(10)));
  EXPECT_FALSE(core.state().polling.status_poll_busy.load());
  EXPECT_THAT(host.recorder().ViolationTexts(), IsEmpty());
}

}  // namespace
}  // namespace raid
