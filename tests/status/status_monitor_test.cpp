// SPDX-License-Identifier: GPL-2.0-or-later
// The status records filled at discovery and refreshed on every poll, against simulated
// enclosures.
#include "status/status_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/text_helpers.h"
#include "device/device_access.h"
#include "sim_host.h"
#include "support/simulated_host_test.h"

namespace raid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class MaskListener : public RefreshListener {
 public:
  void OnStatusRefreshed(PositionMask mask) override { masks.push_back(mask); }
  std::vector<PositionMask> masks;
};

class AnswerLog : public AnswerListener {
 public:
  void StoppedAnswering(unsigned position) override { said.push_back("silent " + Name(position)); }
  void AnswersAgain(unsigned position) override { said.push_back("answers " + Name(position)); }
  std::vector<std::string> said;

 private:
  static std::string Name(unsigned position) { return std::to_string(position + 1); }
};

class StatusMonitorTest : public testing::SimulatedHostTest {
 protected:
  void Build(WatchPolicy watch = kWindowWatch) {
    BuildHost();
    monitor_ = std::make_unique<StatusMonitor>(device_->commands(), clock_, state_,
                                               device_->registry(), ui_, watch);
    device_->discovery().SetStatusFiller(monitor_.get());
    monitor_->SetListener(&listener_);
    monitor_->SetAnswerListener(&answers_);
    DiscoverAndInstall();
    state_.detection.initial = false;
    for (unsigned position = 0; position < watch.polled_positions; ++position) {
      state_.polling.monitor_checked[position] = true;
    }
    host_->recorder().Clear();
  }
  // Polls `ticks` times; the ticks (from 1) at which the enclosure on `drive` was queried.
  std::vector<int> QueriedTicks(unsigned drive, int ticks, std::uint64_t pause_ms = 0) {
    std::vector<int> queried;
    for (int tick = 1; tick <= ticks; ++tick) {
      clock_.Advance(pause_ms);
      host_->recorder().Clear();
      monitor_->RefreshStatus();
      if (!host_->recorder().ReadLbas(drive).empty()) queried.push_back(tick);
    }
    return queried;
  }
  std::vector<std::uint8_t> Opcodes(unsigned drive) {
    std::vector<std::uint8_t> opcodes;
    for (const sim::ReceivedPacket& p : host_->recorder().Packets(drive)) {
      opcodes.push_back(p.packet.opcode);
    }
    return opcodes;
  }

  MaskListener listener_;
  AnswerLog answers_;
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
  EXPECT_FALSE(state_.polling.monitor_checked[0]);
  EXPECT_EQ(monitor_->Poll(0).error_count, 0);
  EXPECT_TRUE(monitor_->NotAnswering(1));
  EXPECT_THAT(answers_.said, ElementsAre("silent 1"));
  // The window never tries it again by itself.
  EXPECT_THAT(QueriedTicks(1, 3, kRetryLongestPauseMs), IsEmpty());
  // Checked again, it is given up on until one of its polls answers.
  state_.polling.monitor_checked[0] = true;
  monitor_->RefreshStatus();
  EXPECT_TRUE(monitor_->NotAnswering(1));
  host_->enclosure(1)->SetNeverAnswer(false);
  monitor_->RefreshStatus();
  monitor_->RefreshStatus();
  EXPECT_FALSE(monitor_->NotAnswering(1));
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
  EXPECT_FALSE(state_.polling.monitor_checked[0]);
}

TEST_F(StatusMonitorTest, EveryWatchedPositionIsPolledAndNoOther) {
  for (unsigned drive = 0; drive < kMaxEnclosures; ++drive) {
    scenario_.drives[drive] = sim::DriveSpec(sim::EnclosureSpec{});
  }
  Build();  // the window's two boxes
  ASSERT_EQ(device_->registry().current.size(), 10U);
  EXPECT_EQ(monitor_->RefreshStatus(), 0x03);
  EXPECT_THAT(Opcodes(2), IsEmpty());
  EXPECT_THAT(Opcodes(1), ::testing::Not(IsEmpty()));

  Build(kEveryEnclosureWatch);
  EXPECT_EQ(monitor_->RefreshStatus(), 0x3FF);
  EXPECT_THAT(Opcodes(9), ::testing::Not(IsEmpty()));
  EXPECT_EQ(monitor_->Tally(9).answered, 1U);
}

TEST_F(StatusMonitorTest, GivenUpEnclosureIsTriedAgainAfterGrowingPausesUntilItAnswers) {
  scenario_.drives[3] = sim::DriveSpec(sim::EnclosureSpec{});
  Build(kEveryEnclosureWatch);
  host_->enclosure(3)->SetNeverAnswer(true);
  QueriedTicks(3, 12);
  ASSERT_FALSE(state_.polling.monitor_checked[0]);
  EXPECT_THAT(answers_.said, ElementsAre("silent 1"));

  // Polled every second: tried 30 s after the give-up, then at pauses that double up to ten
  // minutes (whole seconds from one try's start to the next).
  std::vector<std::uint64_t> pauses;
  std::uint64_t last = clock_.NowMs();
  for (int tick = 0; pauses.size() < 7 && tick < 3000; ++tick) {
    clock_.Advance(1000);
    const std::uint64_t start = clock_.NowMs();
    if (QueriedTicks(3, 1).empty()) continue;
    pauses.push_back((start - last) / 1000);
    last = start;
  }
  EXPECT_THAT(pauses, ElementsAre(30, 60, 120, 240, 480, 600, 600));

  host_->enclosure(3)->SetNeverAnswer(false);
  clock_.Advance(kRetryLongestPauseMs);
  EXPECT_EQ(monitor_->RefreshStatus(), 0x01);
  EXPECT_TRUE(state_.polling.monitor_checked[0]);
  EXPECT_FALSE(monitor_->NotAnswering(3));
  EXPECT_THAT(answers_.said, ElementsAre("silent 1", "answers 1"));
  EXPECT_THAT(QueriedTicks(3, 2), ElementsAre(1, 2));
}

TEST_F(StatusMonitorTest, SilentEnclosureKeepsItsPlaceUntilItsDiskIsGone) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[3] = sim::DriveSpec(sim::EnclosureSpec{});
  Build(kEveryEnclosureWatch);
  const auto listed_drives = [this] {
    std::vector<unsigned> drives;
    for (const EnclosureInfo& info : device_->registry().current)
      drives.push_back(DriveNumberOf(info.device_code));
    return drives;
  };
  // Silent during a rediscovery: still listed where it was, said to be silent, not removed.
  host_->enclosure(1)->SetNeverAnswer(true);
  DiscoverAndInstall();
  EXPECT_THAT(listed_drives(), ElementsAre(1, 3));
  EXPECT_TRUE(monitor_->NotAnswering(1));
  EXPECT_THAT(answers_.said, ElementsAre("silent 1"));
  // Answering at the next poll ends it.
  host_->enclosure(1)->SetNeverAnswer(false);
  EXPECT_EQ(monitor_->RefreshStatus(), 0x03);
  EXPECT_THAT(answers_.said, ElementsAre("silent 1", "answers 1"));
  // Its disk gone, it leaves the list.
  host_->enclosure(1)->SetNeverAnswer(true);
  host_->Unplug(1);
  DiscoverAndInstall();
  EXPECT_THAT(listed_drives(), ElementsAre(3));
}

TEST_F(StatusMonitorTest, UncheckedAndUpgradingEnclosuresAreLeftAlone) {
  scenario_.drives[0] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  state_.polling.monitor_checked[0] = false;
  state_.upgrade.target_index = 1;
  EXPECT_EQ(monitor_->RefreshStatus(), 0x00);
  EXPECT_EQ(host_->recorder().ReadCount(), 0U);
  EXPECT_THAT(listener_.masks, ElementsAre(0x00));
}

TEST_F(StatusMonitorTest, StartUpMarksPositionsRefreshedWithoutAsking) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  state_.detection.initial = true;
  EXPECT_EQ(monitor_->RefreshStatus(), 0x01);
  EXPECT_EQ(host_->recorder().ReadCount(), 0U);
}

TEST_F(StatusMonitorTest, UpgradeStartingDuringAQueryAbortsWithoutEventDetection) {
  scenario_.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  Build();
  clock_.SetMessageHook([this] { state_.upgrade.in_progress = true; });
  EXPECT_EQ(monitor_->RefreshStatus(), std::nullopt);
  EXPECT_THAT(listener_.masks, IsEmpty());
  EXPECT_FALSE(state_.polling.status_poll_busy);
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
