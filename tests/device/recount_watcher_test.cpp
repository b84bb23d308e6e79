// SPDX-License-Identifier: GPL-2.0-or-later
// The recount that stands in for device events where there are none.
#include <gtest/gtest.h>

#include "device/device_watch.h"
#include "sim_host.h"
#include "support/thread_recording_disk_system.h"

namespace raid {
namespace {

TEST(RecountWatcher, SeesDisksComeGoAndBeReplacedAtItsInterval) {
  VirtualClock clock;
  sim::Scenario scenario;
  scenario.drives[1] = sim::DriveSpec(sim::EnclosureSpec{});
  sim::SimHost host(scenario, clock);
  testing::ThreadRecordingDiskSystem disks(host);
  RecountWatcher watcher(disks, clock);
  EXPECT_EQ(disks.CallCount(), 0U);     // made wherever is handy: it opens nothing yet
  EXPECT_FALSE(watcher.TakeChanges());  // the first look takes the census to compare with
  EXPECT_GT(disks.CallCount(), 0U);

  clock.Advance(RecountWatcher::kDefaultIntervalMs);
  EXPECT_FALSE(watcher.TakeChanges());  // nothing changed

  host.Plug(4, sim::DriveSpec(sim::PlainDiskSpec{}));
  clock.Advance(RecountWatcher::kDefaultIntervalMs - 1);
  EXPECT_FALSE(watcher.TakeChanges());  // not looked yet
  clock.Advance(1);
  EXPECT_TRUE(watcher.TakeChanges());
  clock.Advance(RecountWatcher::kDefaultIntervalMs);
  EXPECT_FALSE(watcher.TakeChanges());  // taken once

  // The same numbers, another disk behind one of them.
  host.Unplug(1);
  host.Plug(1, sim::DriveSpec(sim::EnclosureSpec{}));
  clock.Advance(RecountWatcher::kDefaultIntervalMs);
  EXPECT_TRUE(watcher.TakeChanges());

  host.Unplug(4);
  clock.Advance(RecountWatcher::kDefaultIntervalMs);
  EXPECT_TRUE(watcher.TakeChanges());
  EXPECT_TRUE(host.recorder().Violations().empty());
}

}  // namespace
}  // namespace raid
