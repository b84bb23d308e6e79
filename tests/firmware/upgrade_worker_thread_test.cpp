// SPDX-License-Identifier: GPL-2.0-or-later
// The upgrade as the window runs it: begun on the window thread, run on a worker, while the
// window thread reads the progress counter and takes another click on the upgrade button, and
// the detection thread runs a discovery pass.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "upgrade_test_fixture.h"

namespace raid {
namespace {

constexpr unsigned kTargetDrive = 1;

class UpgradeOnAWorkerThread : public testing::UpgradeTest {};

TEST_F(UpgradeOnAWorkerThread, RunsBesideADiscoveryPassAndIgnoresASecondClick) {
  scenario_.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
  scenario_.drives[kTargetDrive] = sim::DriveSpec(sim::EnclosureSpec{});
  scenario_.drives[3] = sim::DriveSpec(sim::EnclosureSpec::PortMultiplier());
  DiscoverHost();
  const EnclosureInfo target = registry().current[0];
  const FirmwareImage image = NewImage(kTargetDrive, 8192);
  // An enclosure plugged in at a lower number than the one under upgrade.
  host_->Unplug(0);
  host_->Plug(0, sim::DriveSpec(sim::EnclosureSpec{}));

  std::promise<void> programming;
  std::shared_future<void> programming_started = programming.get_future().share();
  std::promise<void> go_on;
  std::promise<void> pass_begun;
  // Programming runs beside the pass; the verify waits for the pass's end, so that the pass
  // certainly met the enclosure under upgrade, however the threads are scheduled.
  std::promise<void> pass_ended;
  std::shared_future<void> pass_over = pass_ended.get_future().share();
  views_.on_caption = [&](const std::string& caption) {
    if (caption == "Process 2 / 3") {
      programming.set_value();
      go_on.get_future().wait();
    } else if (caption == "Process 3 / 3") {
      pass_over.wait();
    }
  };
  // As the window's click handler: maintenance begins on its thread, the rest runs on a worker.
  std::optional<Maintenance> maintenance = Maintenance::BeginMaintenance(state_, views_);
  ASSERT_TRUE(maintenance.has_value());
  std::atomic<bool> worker_done{false};
  UpgradeResult result;
  std::thread worker([&] {
    result = upgrade_->Run(std::move(*maintenance), image, 0, {ui_, views_, views_});
    worker_done = true;
  });

  testing::RecordingUiSink pass_ui;
  std::thread detection([&] {
    programming_started.wait();
    state_.detection.running = true;
    pass_begun.set_value();
    device_->discovery().CountPhysicalDrives();
    device_->discovery().RunDiscovery(pass_ui);
    state_.detection.running = false;
    pass_ended.set_value();
  });

  programming_started.wait();
  pass_begun.get_future().wait();
  testing::RecordingUiSink click_ui;
  testing::RecordingUpgradeViews click_views;
  EXPECT_EQ(upgrade_->Run(image, 1, {click_ui, click_views, click_views}).outcome,
            UpgradeOutcome::kIgnored);
  go_on.set_value();
  std::uint32_t last_progress = 0;
  while (!worker_done) {
    const std::uint32_t progress = state_.upgrade.progress_count.load();
    EXPECT_GE(progress, last_progress);
    last_progress = progress;
    std::this_thread::yield();
  }
  worker.join();
  detection.join();

  EXPECT_TRUE(result.Succeeded());
  EXPECT_EQ(Flash(kTargetDrive, image.size), image.bytes);
  EXPECT_TRUE(click_ui.messages.empty());
  EXPECT_TRUE(click_views.monitor_boxes.empty());
  ExpectMaintenanceEnded();

  InstallNewList(device_->registry(), false);
  ASSERT_EQ(registry().current.size(), 3U);
  EXPECT_EQ(registry().current[0], target);
  EXPECT_EQ(registry().current[1].device_code, 0x40U);
  for (const sim::ReceivedPacket& p : recorder().Packets(kTargetDrive))
    EXPECT_THAT(p.packet.opcode, ::testing::AnyOf(kOpEraseFlash, kOpWriteFlash, kOpReadFlash));
}

}  // namespace
}  // namespace raid
