// SPDX-License-Identifier: GPL-2.0-or-later
// The detection and polling schedule over a simulated host: the timers' rules, the settle delay
// and recount after a device change, and the handover between the detection pass, the list
// installation and the RAID worker.
#include "monitor/polling_schedule.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include <string>
#include <vector>

#include "monitor/monitoring_loop.h"
#include "support/simulated_host_test.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Real discovery and list installation; the poll and SMART reads are only recorded.
class RecordingWork : public ScheduleWork {
 public:
  RecordingWork(DeviceAccess& device, UiSink& ui, SharedState& state)
      : device_(device), ui_(ui), state_(state) {}
  void RunDiscovery() override {
    ++passes;
    if (during_discovery) during_discovery();
    device_.discovery().RunDiscovery(ui_);
  }
  void InstallList() override {
    InstallNewList(device_.registry(), state_.detection.initial.load());
    ++installs;
  }
  void RefreshStatus() override {
    items.push_back("poll");
    if (during_poll) during_poll();
  }
  bool ReadSmart(std::uint8_t feature) override {
    items.push_back(feature == kSmartDataFeature ? "smart data" : "smart thresholds");
    if (during_smart) during_smart();
    return smart_steps_left == 0 || --smart_steps_left == 0;
  }

  int passes = 0;
  int installs = 0;
  int smart_steps_left = 0;  // the steps the SMART pass under way takes; 0 or 1: one
  std::vector<std::string> items;
  std::function<void()> during_poll;
  std::function<void()> during_smart;
  std::function<void()> during_discovery;  // a window tick in the middle of the pass

 private:
  DeviceAccess& device_;
  UiSink& ui_;
  SharedState& state_;
};

class RecordingView : public ScheduleView {
 public:
  void ShowDetectionText(const std::string& text, bool visible) override {
    detection.emplace_back(text, visible);
  }
  void ShowDevice(unsigned position, bool shown) override { devices[position] = shown; }
  void EnableControls(bool enabled) override { controls = enabled; }
  void EnableUpgradeButton(bool enabled) override { upgrade_button.push_back(enabled); }
  void ShowEventLogButton() override { log_button = true; }
  void RefreshDeviceCaptions() override { ++captions; }
  void SetSmartStatusLine(const std::string& text) override { smart_lines.push_back(text); }

  std::vector<std::pair<std::string, bool>> detection;
  std::array<bool, 2> devices{};
  bool controls = false;
  std::vector<bool> upgrade_button;
  bool log_button = false;
  int captions = 0;
  std::vector<std::string> smart_lines;
};

class PollingScheduleTest : public testing::SimulatedHostTest {
 protected:
  void Build(unsigned watched_positions = kShownDevices) {
    BuildHost();
    work_ = std::make_unique<RecordingWork>(*device_, ui_, state_);
    schedule_ = std::make_unique<PollingSchedule>(state_, device_->discovery(), device_->registry(),
                                                  *work_, view_, ui_, watched_positions);
    schedule_->Start();
  }
  // The first pass and its installation, as at start-up; then the start-up is over.
  void StartUp() {
    ASSERT_TRUE(schedule_->DriveDetectLook());
    schedule_->TickDetection();
    state_.detection.initial = false;
  }
  // Ten ticks of Timer4 take a fresh device change to the recount.
  void SettleAfterDeviceChange() {
    schedule_->DeviceChanged();
    for (int tick = 0; tick < 10; ++tick)
      schedule_->TickDetection();
  }
  void RunRaidWorker() {
    while (schedule_->RaidLook()) {
    }
  }

  RecordingView view_;
  std::unique_ptr<RecordingWork> work_;
  std::unique_ptr<PollingSchedule> schedule_;
};

TEST_F(PollingScheduleTest, FirstListInstalledArmsPollingAndAsksForPollAndBothSmartReads) {
  scenario_.drives[2] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  EXPECT_TRUE(state_.detection.running);
  EXPECT_FALSE(schedule_->RaidLook());  // nothing while the pass is pending

  schedule_->TickDetection();  // blinks while the pass is pending
  ASSERT_FALSE(view_.detection.empty());
  EXPECT_EQ(view_.detection.back(), std::make_pair(std::string("Drive detecting"), false));
  ASSERT_TRUE(schedule_->DriveDetectLook());
  EXPECT_FALSE(schedule_->RaidLook());  // nor while its list waits
  schedule_->TickDetection();

  EXPECT_EQ(registry().current.size(), 1U);
  EXPECT_FALSE(state_.detection.running);
  EXPECT_TRUE(schedule_->StatusPollsOn());
  EXPECT_TRUE(schedule_->SmartCountdownOn());
  EXPECT_EQ(ui_.panels[1], "Detected OK");
  EXPECT_EQ(ui_.panels[2], " ");
  EXPECT_TRUE(view_.devices[0]);
  EXPECT_FALSE(view_.devices[1]);
  EXPECT_TRUE(state_.polling.monitor_checked[0]);
  EXPECT_FALSE(state_.polling.monitor_checked[1]);
  EXPECT_TRUE(view_.controls);
  EXPECT_TRUE(view_.log_button);
  EXPECT_EQ(view_.detection.back(), std::make_pair(std::string(" "), false));

  RunRaidWorker();  // one item per look, in priority order
  EXPECT_THAT(work_->items, ElementsAre("poll", "smart thresholds", "smart data"));
}

TEST_F(PollingScheduleTest, AnEmptyHostArmsNoPollingAndSaysSo) {
  scenario_.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
  Build();
  StartUp();
  EXPECT_TRUE(registry().current.empty());
  EXPECT_FALSE(schedule_->StatusPollsOn());
  EXPECT_FALSE(schedule_->SmartCountdownOn());
  EXPECT_FALSE(state_.detection.running);
  EXPECT_FALSE(view_.controls);
  ASSERT_FALSE(view_.detection.empty());
  EXPECT_EQ(view_.detection.back(), std::make_pair(std::string("No Drive found! "), true));
  EXPECT_EQ(work_->passes, 1);

  // However long it stays empty: no pass without a change, and no work.
  for (int tick = 0; tick < 100; ++tick)
    schedule_->TickDetection();
  EXPECT_FALSE(schedule_->DriveDetectLook());
  EXPECT_FALSE(schedule_->RaidLook());
  EXPECT_EQ(work_->passes, 1);
}

TEST_F(PollingScheduleTest, Timer2RequestsAPollEachTickOnceArmedAndReArmingDropsTheRest) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  state_.polling.work_requests = kRequestSmartData;  // 0x10 clear, as after an upgrade
  schedule_->RequestStatusPoll();
  EXPECT_EQ(state_.polling.work_requests, kLogRunningFlag);
  schedule_->RequestStatusPoll();
  EXPECT_EQ(state_.polling.work_requests, kLogRunningFlag | kRequestStatusPoll);
  RunRaidWorker();
  EXPECT_EQ(state_.polling.work_requests, kLogRunningFlag);
  schedule_->RequestStatusPoll();
  EXPECT_EQ(state_.polling.work_requests, kLogRunningFlag | kRequestStatusPoll);

  // An upgrade disarms it; nothing is requested meanwhile.
  state_.upgrade.in_progress = true;
  state_.polling.work_requests = kLogRunningFlag;
  schedule_->RequestStatusPoll();
  EXPECT_EQ(state_.polling.work_requests, 0);
}

TEST_F(PollingScheduleTest, EnclosuresBeyondTheWatchedPositionsAreToldAndNotChecked) {
  for (unsigned drive = 0; drive < 3; ++drive)
    scenario_.drives[drive] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  EXPECT_TRUE(view_.devices[1]);
  EXPECT_TRUE(state_.polling.monitor_checked[1]);
  EXPECT_FALSE(state_.polling.monitor_checked[2]);  // the window has two boxes
  EXPECT_EQ(view_.detection.back(),
            std::make_pair(std::string("Device1-Device2 shown; 3 enclosures found"), true));

  Build(kMaxEnclosures);
  StartUp();
  EXPECT_TRUE(state_.polling.monitor_checked[2]);
  EXPECT_FALSE(state_.polling.monitor_checked[3]);  // not listed
}

TEST_F(PollingScheduleTest, StatusPollsRunBetweenTheEnclosuresOfASmartPass) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  RunRaidWorker();
  work_->items.clear();
  state_.polling.work_requests = kLogRunningFlag | kRequestSmartData;
  work_->smart_steps_left = 3;
  work_->during_smart = [this] { schedule_->RequestStatusPoll(); };  // a poll falls due each time
  RunRaidWorker();
  EXPECT_THAT(work_->items,
              ElementsAre("smart data", "poll", "smart data", "poll", "smart data", "poll"));

  // The tick that re-arms polling after an upgrade keeps a pass that has begun.
  work_->items.clear();
  work_->smart_steps_left = 2;
  work_->during_smart = nullptr;
  state_.polling.work_requests = kRequestSmartData;
  ASSERT_TRUE(schedule_->RaidLook());
  schedule_->RequestStatusPoll();
  EXPECT_EQ(state_.polling.work_requests, kLogRunningFlag | kRequestSmartData);
  RunRaidWorker();
  EXPECT_THAT(work_->items, ElementsAre("smart data", "smart data"));
  EXPECT_EQ(state_.polling.work_requests, kLogRunningFlag);
}

TEST_F(PollingScheduleTest, SmartCountdownLineAndRequestsEveryMinute) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  RunRaidWorker();
  state_.polling.smart_readings_shown = true;
  for (int tick = 0; tick < 59; ++tick)
    schedule_->TickSmartCountdown();
  ASSERT_FALSE(view_.smart_lines.empty());
  EXPECT_EQ(view_.smart_lines.front(), "Updates after 60 seconds.");
  EXPECT_EQ(view_.smart_lines.back(), "Updates after 2 seconds.");
  schedule_->TickSmartCountdown();
  EXPECT_EQ(view_.smart_lines.back(), "Updates after 1 second.");
  schedule_->TickSmartCountdown();  // countdown 0: the read is requested
  EXPECT_EQ(view_.smart_lines.back(), "Updating...");
  EXPECT_EQ(state_.polling.work_requests & (kRequestSmartData | kRequestSmartThresholds),
            kRequestSmartData | kRequestSmartThresholds);
  schedule_->TickSmartCountdown();  // the countdown waits for the read
  EXPECT_EQ(view_.smart_lines.back(), "Updating...");
  EXPECT_EQ(schedule_->SmartCountdown(), kSmartCountdownStart);

  // Thresholds once read are not asked for again.
  RunRaidWorker();
  state_.polling.smart_thresholds_read = true;
  for (int tick = 0; tick < 61; ++tick)
    schedule_->TickSmartCountdown();
  EXPECT_EQ(state_.polling.work_requests & (kRequestSmartData | kRequestSmartThresholds),
            kRequestSmartData);
}

TEST_F(PollingScheduleTest, DeviceChangeThatChangesNoDriveEndsWithoutAPass) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  schedule_->DeviceChanged();
  for (int tick = 0; tick < 9; ++tick) {
    schedule_->TickDetection();
    EXPECT_FALSE(state_.detection.running);
  }
  EXPECT_EQ(state_.detection.change_counter, kDeviceChangeSettled - 1);
  schedule_->TickDetection();
  EXPECT_EQ(state_.detection.change_counter, kDeviceChangeSettled);
  schedule_->TickDetection();  // the recount goes to the detection thread
  EXPECT_EQ(state_.detection.change_counter, 0);
  EXPECT_TRUE(state_.detection.running);
  ASSERT_FALSE(view_.upgrade_button.empty());
  EXPECT_EQ(view_.upgrade_button.back(), false);
  EXPECT_TRUE(schedule_->DriveDetectLook());  // counted: nothing changed, no pass
  EXPECT_EQ(work_->passes, 1);
  EXPECT_FALSE(state_.detection.running);
  EXPECT_FALSE(state_.detection.pending);
  schedule_->TickDetection();
  EXPECT_EQ(view_.upgrade_button.back(), true);
  EXPECT_FALSE(schedule_->DriveDetectLook());
}

TEST_F(PollingScheduleTest, APluggedEnclosureIsFoundAfterTheSettleDelayAndPollingIsArmed) {
  scenario_.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
  Build();
  StartUp();
  ASSERT_FALSE(schedule_->StatusPollsOn());

  host_->Plug(3, sim::DriveSpec(sim::EnclosureSpec{}));
  SettleAfterDeviceChange();
  schedule_->TickDetection();  // the recount is requested
  EXPECT_TRUE(state_.detection.running);
  work_->during_discovery = [&] { schedule_->TickDetection(); };
  ASSERT_TRUE(schedule_->DriveDetectLook());  // a new drive: the pass runs
  ASSERT_FALSE(view_.detection.empty());
  EXPECT_EQ(view_.detection.back(), std::make_pair(std::string("Drive detecting"), true));
  schedule_->TickDetection();
  ASSERT_EQ(registry().current.size(), 1U);
  EXPECT_EQ(DriveNumberOf(registry().current[0].device_code), 3U);
  EXPECT_TRUE(schedule_->StatusPollsOn());
  EXPECT_TRUE(view_.controls);
}

// The same number of drives, but one is another disk: that is a change too, or every command
// for the old enclosure would fail against the newcomer until the user plugged something else.
TEST_F(PollingScheduleTest, AnEnclosureReplacedUnderTheSameNumberIsDiscoveredAgain) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  ASSERT_EQ(registry().current.size(), 1U);
  const DiskIdentity before = registry().current[0].identity;
  host_->Unplug(1);
  sim::EnclosureSpec other;
  other.model_text = "SECOND ENCLOSURE";
  host_->Plug(1, sim::DriveSpec(other));

  SettleAfterDeviceChange();
  schedule_->TickDetection();
  ASSERT_TRUE(schedule_->DriveDetectLook());
  schedule_->TickDetection();
  ASSERT_EQ(registry().current.size(), 1U);
  EXPECT_NE(registry().current[0].identity, before);
  EXPECT_EQ(work_->passes, 2);
}

TEST_F(PollingScheduleTest, AChangeDuringAPassWaitsForItsListAndRecountsAfterwards) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  host_->Plug(2, sim::DriveSpec(sim::EnclosureSpec{}));
  SettleAfterDeviceChange();
  schedule_->TickDetection();  // a pass is requested
  ASSERT_TRUE(state_.detection.pending);

  // Another change while the pass runs: the counter settles and holds; DetectionRunning stays
  // set (the pass's queries go to the probed drive) and no second pass is requested.
  work_->during_discovery = [&] {
    work_->during_discovery = nullptr;
    host_->Plug(4, sim::DriveSpec(sim::EnclosureSpec{}));
    SettleAfterDeviceChange();
    for (int tick = 0; tick < 5; ++tick)
      schedule_->TickDetection();
    EXPECT_EQ(state_.detection.change_counter, kDeviceChangeSettled);
    EXPECT_TRUE(state_.detection.running);
    EXPECT_FALSE(state_.detection.requested);
  };
  ASSERT_TRUE(schedule_->DriveDetectLook());
  EXPECT_FALSE(schedule_->DriveDetectLook());

  // Its list is installed first, with the counter still held; the next tick recounts.
  schedule_->TickDetection();
  EXPECT_EQ(work_->installs, 2);
  EXPECT_EQ(state_.detection.change_counter, kDeviceChangeSettled);
  schedule_->TickDetection();
  EXPECT_EQ(state_.detection.change_counter, 0);
  EXPECT_TRUE(state_.detection.requested);  // drive 4 came after the pass had counted
  ASSERT_TRUE(schedule_->DriveDetectLook());
  schedule_->TickDetection();
  EXPECT_EQ(registry().current.size(), 3U);
  EXPECT_EQ(work_->passes, 3);
}

TEST_F(PollingScheduleTest, DuringAnUpgradeTheSettledChangeWaitsWithTheUpgradeButtonEnabled) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  state_.upgrade.in_progress = true;
  host_->Plug(2, sim::DriveSpec(sim::PlainDiskSpec{}));
  SettleAfterDeviceChange();
  for (int tick = 0; tick < 3; ++tick) {
    schedule_->TickDetection();
    EXPECT_EQ(state_.detection.change_counter, kDeviceChangeSettled);
    ASSERT_FALSE(view_.upgrade_button.empty());
    EXPECT_EQ(view_.upgrade_button.back(), true);
  }
  EXPECT_FALSE(state_.detection.running);
  state_.upgrade.in_progress = false;
  schedule_->TickDetection();
  EXPECT_EQ(state_.detection.change_counter, 0);
  EXPECT_TRUE(state_.detection.requested);
}

// A pass that ends while an upgrade runs keeps its list waiting: the upgrade's thread reads the
// current list, which installing would replace under it.
TEST_F(PollingScheduleTest, AListThatArrivesDuringAnUpgradeWaitsForItsEnd) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  EXPECT_TRUE(schedule_->DriveDetectLook());
  state_.upgrade.in_progress = true;
  for (int tick = 0; tick < 3; ++tick)
    schedule_->TickDetection();
  EXPECT_TRUE(registry().current.empty());
  EXPECT_TRUE(state_.detection.done);
  state_.upgrade.in_progress = false;
  schedule_->TickDetection();
  EXPECT_EQ(registry().current.size(), 1U);
}

// A SMART read on the RAID worker takes a while; a device change that settles meanwhile waits
// for it, so that the pass never opens the enclosure's volumes in the middle of its exchanges.
TEST_F(PollingScheduleTest, ARecountWaitsForASmartReadOnTheRaidThread) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  state_.polling.work_requests = kRequestSmartData;
  std::promise<void> reading;
  std::promise<void> finish;
  std::shared_future<void> finished = finish.get_future().share();
  work_->during_smart = [&] {
    reading.set_value();
    finished.wait();
  };
  std::thread raid([&] { schedule_->RaidLook(); });
  reading.get_future().wait();
  SettleAfterDeviceChange();
  schedule_->TickDetection();
  EXPECT_FALSE(state_.detection.requested);
  EXPECT_FALSE(state_.detection.pending);
  finish.set_value();
  raid.join();
  schedule_->TickDetection();
  EXPECT_TRUE(state_.detection.requested);
}

TEST_F(PollingScheduleTest, ARaidLookReenteredDuringAPollStartsNoSecondPoll) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  StartUp();
  RunRaidWorker();
  work_->items.clear();
  bool nested_ran = true;
  work_->during_poll = [&] {
    work_->during_poll = nullptr;
    nested_ran = schedule_->RaidLook();
  };
  state_.polling.work_requests.fetch_or(kRequestStatusPoll);
  ASSERT_TRUE(schedule_->RaidLook());
  EXPECT_TRUE(nested_ran);  // it looked, met the busy poll and did nothing
  EXPECT_THAT(work_->items, ElementsAre("poll"));
  EXPECT_EQ(state_.polling.work_requests & kRequestStatusPoll, 0);
}

// raidctl's timers on its clock: detection at once and every 500 ms; the poll and the countdown
// only once switched on, a whole interval later; a timer that fell behind fires once.
TEST(ClockTimersTest, FireInTheWindowsOrderAndCatchUpOnce) {
  struct Ticks : LoopTicks {
    void Tick(LoopTimer timer) override { fired.push_back(timer); }
    bool TimerOn(LoopTimer timer) const override { return timer != LoopTimer::kSmartCountdown; }
    std::vector<LoopTimer> fired;
  } ticks;
  ClockTimers timers(1000);
  EXPECT_EQ(timers.NextDue(), 1000u);
  timers.FireDue(ticks, 1000);
  EXPECT_THAT(ticks.fired, ElementsAre(LoopTimer::kDetection));
  timers.Follow(ticks, 1200);
  EXPECT_EQ(timers.NextDue(), 1500u);
  ticks.fired.clear();
  timers.FireDue(ticks, 6200);  // ten detection ticks late, and the poll due
  EXPECT_THAT(ticks.fired, ElementsAre(LoopTimer::kDetection, LoopTimer::kStatusPoll));
  EXPECT_EQ(timers.NextDue(), 6700u);
  ticks.fired.clear();
  timers.FireDue(ticks, 6699);
  EXPECT_THAT(ticks.fired, IsEmpty());
}

}  // namespace
}  // namespace raid
