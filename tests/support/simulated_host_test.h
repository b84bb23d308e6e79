// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated host with the program's device subsystem on top: the common ground of the tests
// that drive discovery, flash ranges and status polling against the simulator.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>

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
    state_.detection.running = true;
    device_->discovery().CountLogicalDrives();
    device_->discovery().CountPhysicalDrives();
    device_->discovery().RunDiscovery(ui_);
    InstallNewList(device_->registry(), state_.detection.initial.load());
    FollowUpgradeTarget(device_->registry(), state_.upgrade.target_index);
    state_.detection.running = false;
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

// One enclosure at drive 2 behind a plain disk at drive 0, addressed by hand rather than found
// by discovery, with a transport and command wrappers of the test's own: the ground of the tests
// of the exchanges themselves.
class OneEnclosureTest : public SimulatedHostTest {
 protected:
  static constexpr unsigned kDrive = 2;

  void BuildEnclosure(sim::EnclosureSpec enclosure = {}) {
    scenario_.drives[0] = sim::DriveSpec(sim::PlainDiskSpec{});
    scenario_.drives[kDrive] = sim::DriveSpec(std::move(enclosure));
    BuildHost();
    target_ = IdentifiedDrive(kDrive);
    recorder().Clear();
    commands_ =
        std::make_unique<ControllerCommands>(*host_, transport_, gate_, [this] { return target_; });
  }
  // Whatever failed, the controller also never met a command it could not decode.
  void TearDown() override {
    SimulatedHostTest::TearDown();
    if (host_) {
      EXPECT_THAT(host_->recorder().DecodeErrors(), ::testing::IsEmpty());
    }
  }
  sim::SimEnclosure& enclosure() { return *host_->enclosure(kDrive); }

  Transport transport_{clock_};
  ExchangeGate gate_;
  std::optional<DiskRef> target_;
  std::unique_ptr<ControllerCommands> commands_;
  std::array<std::uint8_t, 512> out_{};
};

}  // namespace raid::testing
