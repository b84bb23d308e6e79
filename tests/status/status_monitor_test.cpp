// SPDX-License-Identifier: GPL-2.0-or-later
// The status records filled at discovery and refreshed on every poll, against simulated
// enclosures.
#include "status/status_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device/device_access.h"
#include "sim_host.h"
#include "status/text_helpers.h"
#include "support/simulated_host_test.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class MaskListener : public RefreshListener {
 public:
  void OnStatusRefreshed(std::uint8_t mask) override { masks.push_back(mask); }
  std::vector<std::uint8_t> masks;
};

class StatusMonitorTest : public testing::SimulatedHostTest {
 protected:
  void Build() {
    BuildHost();
    monitor_ = std::make_unique<StatusMonitor>(device_->commands(), clock_, state_,
                                               device_->registry(), ui_);
    device_->discovery().SetStatusFiller(monitor_.get());
    monitor_->SetListener(&listener_);
    DiscoverAndInstall();
    state_.initial_detection = false;
    state_.monitor_checked[0] = true;
    state_.monitor_checked[1] = true;
    host_->recorder().Clear();
  }
  std::vector<std::uint8_t> Opcodes(unsigned drive) {
    std::vector<std::uint8_t> opcodes;
    for (const sim::ReceivedPacket& p : host_->recorder().Packets(drive)) {
      opcodes.push_back(p.packet.opcode);
    }
    return opcodes;
  }

  MaskListener listener_;
  std::unique_ptr<StatusMonitor> monitor_;
};

TEST_F(StatusMonitorTest, InitialFillOfAMirrorTakesCapacityFromTheProgressReply) {
  sim::EnclosureSpec config;
  config.fan_rpm = 2100;
  config.temperature = 38;
  config.members[1].reset();  // HDD2 absent from the start
  scenario_.drives[1] = sim::DriveSpec(config);
  Build();

  const ControllerStatus& record = monitor_->Record(1);
  EXPECT_TRUE(record.IsFilledFor(1));
  EXPECT_EQ(ModeName(record.Mode()), "Mirroring(RAID1)");
  EXPECT_EQ(record.DriveFlags(), 0x42);
  EXPECT_EQ(record.ArrayCapacity(), host_->enclosure(1)->ArrayCapacity());
  EXPECT_EQ(record.DriveModel(0), "NORTHWIND NW1000SA-01");
  EXPECT_EQ(CapacityText(record.DriveCapacity(0)), "931 GB");
  EXPECT_EQ(record.DriveSerial(1), "");  // an absent drive of a new record has no details
  EXPECT_EQ(record.SensorFlags(), kSensorsReported);
  EXPECT_EQ(record.FanSpeed(), 2100);
  EXPECT_EQ(record.Temperature(), 38);
}

TEST_F(StatusMonitorTest, StripedArrayWithoutModelTextIsTwiceTheSmallerDrive) {
  sim::EnclosureSpec config = sim::EnclosureSpec::PortMultiplier();
  config.raw_mode = sim::kModeStriping;
  config.members[0]->capacity = 3000;
  config.members[1]->capacity = 2000;
  scenario_.drives[0] = sim::DriveSpec(config);
  Build();
  const ControllerStatus& record = monitor_->Record(0);
  EXPECT_EQ(ModeName(record.Mode()), "Striping(RAID0)");
  EXPECT_EQ(record.ArrayCapacity(), 4000U);
  EXPECT_EQ(record.SensorFlags(), kSensorsNotReported);
}

TEST_F(StatusMonitorTest, RebuildIsFollowedWithTheProgressQueryInTheSameTick) {
  sim::EnclosureSpec config;
  config.sensors = false;
  scenario_.drives[1] = sim::DriveSpec(config);
  Build();
  host_->enclosure(1)->StartRebuild(1, 100000);
  clock_.Advance(37000);

  ASSERT_EQ(monitor_->RefreshStatus(), 0x01);
  EXPECT_THAT(Opcodes(1), ElementsAre(0x17, 0x15));
  const ControllerStatus& record = monitor_->Record(1);
  EXPECT_EQ(record.Activity(), 0x02);
  EXPECT_EQ(record.Progress(), 37);
  EXPECT_THAT(listener_.masks, ElementsAre(0x01));

  // While it runs, each later tick asks for the progress only.
  host_->recorder().Clear();
  clock_.Advance(5000);
  monitor_->RefreshStatus();
  EXPECT_THAT(Opcodes(1), ElementsAre(0x15));
  EXPECT_EQ(monitor_->Record(1).Progress(), 42);

  // Once the controller stops reporting it, the same pass reads the array status again.
  host_->enclosure(1)->FinishRebuild();
  host_->recorder().Clear();
  monitor_->RefreshStatus();
  EXPECT_THAT(Opcodes(1), ElementsAre(0x15, 0x17));
  EXPECT_EQ(monitor_->Record(1).Activity(), 0);
  EXPECT_EQ(monitor_->Record(1).DriveFlags(), 0x22);
}

TEST_F(StatusMonitorTest, SensorCapableEnclosureReadsFanAndTemperatureEachTick) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  host_->enclosure(1)->SetFan(1800);
  host_->enclosure(1)->SetTemperature(52);
  monitor_->RefreshStatus();
  EXPECT_THAT(Opcodes(1), ElementsAre(0x11, 0x17));
  EXPECT_EQ(monitor_->Record(1).FanSpeed(), 1800);
  EXPECT_EQ(monitor_->Record(1).Temperature(), 52);
}

TEST_F(StatusMonitorTest, FailingEnclosureIsRetriedEverySecondTickThenUnchecked) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  host_->enclosure(1)->SetNeverAnswer(true);

  std::vector<int> queried_ticks;
  for (int tick = 1; tick <= 14; ++tick) {
    host_->recorder().Clear();
    monitor_->RefreshStatus();
    if (!host_->recorder().ReadLbas(1).empty()) queried_ticks.push_back(tick);
  }
  EXPECT_THAT(queried_ticks, ElementsAre(1, 3, 5, 7, 9, 11));
  EXPECT_THAT(ui_.monitor_changes, ElementsAre(std::pair{0, false}));
  EXPECT_FALSE(state_.monitor_checked[0]);
  EXPECT_EQ(monitor_->Poll(0).error_count, 0);
  EXPECT_TRUE(monitor_->GaveUp(1));
  // Checked again, it is given up on until one of its polls answers.
  state_.monitor_checked[0] = true;
  monitor_->RefreshStatus();
  EXPECT_TRUE(monitor_->GaveUp(1));
  host_->enclosure(1)->SetNeverAnswer(false);
  monitor_->RefreshStatus();
  monitor_->RefreshStatus();
  EXPECT_FALSE(monitor_->GaveUp(1));
  EXPECT_THAT(host_->recorder().ViolationTexts(), IsEmpty());
}

// The monitor box handler runs on the window thread while the RAID worker polls; its request
// that the failure count start again is taken by the poll, between polls or during one.
TEST_F(StatusMonitorTest, AClickOfTheMonitorBoxStartsTheFailureCountAgain) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  host_->enclosure(1)->SetNeverAnswer(true);
  const auto failing_ticks = [this](int ticks) {
    std::vector<int> queried;
    for (int tick = 1; tick <= ticks; ++tick) {
      host_->recorder().Clear();
      monitor_->RefreshStatus();
      if (!host_->recorder().ReadLbas(1).empty()) queried.push_back(tick);
    }
    return queried;
  };

  // A click in the middle of the eleventh failing exchange: that failure is the first again.
  failing_ticks(10);
  clock_.SetMessageHook([this] { monitor_->RequestErrorCountReset(0); });
  failing_ticks(1);
  clock_.SetMessageHook(nullptr);
  EXPECT_THAT(ui_.monitor_changes, IsEmpty());

  // Clicks from another thread while the polls run.
  std::atomic<bool> polled{false};
  std::thread worker([&] {
    failing_ticks(9);
    polled = true;
  });
  do {
    monitor_->RequestErrorCountReset(0);
  } while (!polled.load());
  worker.join();

  // The last click's reset holds whatever the count was: eleven failures again to the uncheck.
  monitor_->RequestErrorCountReset(0);
  EXPECT_THAT(failing_ticks(11), ElementsAre(1, 3, 5, 7, 9, 11));
  EXPECT_THAT(ui_.monitor_changes, ElementsAre(std::pair{0, false}));
  EXPECT_FALSE(state_.monitor_checked[0]);
}

TEST_F(StatusMonitorTest, OnlyTheFirstTwoEnclosuresAreRefreshed) {
  scenario_.drives[0] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[2] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  ASSERT_EQ(device_->registry().current.size(), 3U);
  EXPECT_EQ(monitor_->RefreshStatus(), 0x03);
  EXPECT_THAT(Opcodes(2), IsEmpty());
  EXPECT_THAT(Opcodes(1), ::testing::Not(IsEmpty()));
}

TEST_F(StatusMonitorTest, UncheckedAndUpgradingEnclosuresAreLeftAlone) {
  scenario_.drives[0] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  state_.monitor_checked[0] = false;
  state_.upgrade_target_index = 1;
  EXPECT_EQ(monitor_->RefreshStatus(), 0x00);
  EXPECT_EQ(host_->recorder().ReadCount(), 0U);
  EXPECT_THAT(listener_.masks, ElementsAre(0x00));
}

TEST_F(StatusMonitorTest, StartUpMarksPositionsRefreshedWithoutAsking) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  state_.initial_detection = true;
  EXPECT_EQ(monitor_->RefreshStatus(), 0x01);
  EXPECT_EQ(host_->recorder().ReadCount(), 0U);
}

TEST_F(StatusMonitorTest, UpgradeStartingDuringAQueryAbortsWithoutEventDetection) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  clock_.SetMessageHook([this] { state_.upgrade_in_progress = true; });
  EXPECT_EQ(monitor_->RefreshStatus(), std::nullopt);
  EXPECT_THAT(listener_.masks, IsEmpty());
  EXPECT_FALSE(state_.status_poll_busy);
  // And while it runs, a poll does not start at all.
  clock_.SetMessageHook(nullptr);
  host_->recorder().Clear();
  EXPECT_EQ(monitor_->RefreshStatus(), std::nullopt);
  EXPECT_EQ(host_->recorder().ReadCount(), 0U);
}

TEST_F(StatusMonitorTest, PollLeavesATraceInTheStatusBar) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  monitor_->RefreshStatus();
  monitor_->RefreshStatus();
  EXPECT_EQ(ui_.panels[3], "G = 2x, 02");
  EXPECT_EQ(ui_.panels[2], "SC = 1x0102");
  EXPECT_EQ(ui_.panels[1], "y3,01");
  EXPECT_EQ(ui_.panels[0], "5x,02");
}

}  // namespace
}  // namespace raid
