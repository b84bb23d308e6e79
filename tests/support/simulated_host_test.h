// A simulated host with the program's device subsystem on top: the common ground of the tests
// that drive discovery, flash ranges and status polling against the simulator.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "common/clock.h"
#include "common/shared_state.h"
#include "device/device_access.h"
#include "sim_host.h"
#include "support/recording_ui_sink.h"

namespace raid::testing {

class SimulatedHostTest : public ::testing::Test {
 protected:
  // Whatever a test did, the controller never saw anything but one-block READ(10)s and
  // INQUIRYs, and no two exchanges overlapped.
  void TearDown() override {
    if (host_) {
      EXPECT_THAT(host_->recorder().ViolationTexts(), ::testing::IsEmpty());
    }
  }

  // Builds the host from `scenario_` and the device subsystem over it (over `wrap_disks_` of
  // it, when set).
  void BuildHost() {
    host_ = std::make_unique<sim::SimHost>(scenario_, clock_);
    if (wrap_disks_) wrapped_disks_ = wrap_disks_(*host_);
    device_ =
        std::make_unique<DeviceAccess>(wrapped_disks_ ? *wrapped_disks_ : *host_, clock_, state_);
  }

  // As the detection timer and thread do it: count, run the pass, install the new list.
  unsigned DiscoverAndInstall() {
    state_.detection_running = true;
    device_->discovery().CountLogicalDrives();
    device_->discovery().CountPhysicalDrives();
    device_->discovery().RunDiscovery(ui_);
    InstallNewList(device_->registry(), state_.initial_detection.load());
    FollowUpgradeTarget(device_->registry(), state_.upgrade_target_index);
    state_.detection_running = false;
    return static_cast<unsigned>(device_->registry().current.size());
  }

  // The drive as discovery would identify it now.
  DiskRef IdentifiedDrive(unsigned drive) {
    std::unique_ptr<Disk> disk = host_->OpenPhysicalDrive(drive);
    return {drive | kEnclosureBit, disk ? disk->Identity() : DiskIdentity{}};
  }

  sim::Recorder& recorder() { return host_->recorder(); }
  const EnclosureRegistry& registry() { return device_->registry(); }

  sim::Scenario scenario_;
  VirtualClock clock_;
  SharedState state_;
  RecordingUiSink ui_;
  std::function<std::unique_ptr<DiskSystem>(DiskSystem& host)> wrap_disks_;
  std::unique_ptr<sim::SimHost> host_;
  std::unique_ptr<DiskSystem> wrapped_disks_;
  std::unique_ptr<DeviceAccess> device_;
};

}  // namespace raid::testing
