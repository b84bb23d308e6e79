// SPDX-License-Identifier: GPL-2.0-or-later
// A disk system that notes which thread made each call, on itself and on the disks it opened:
// for asserting that a thread never waits for a disk.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/forwarding_disk_system.h"

namespace raid::testing {

class ThreadRecordingDiskSystem : public ForwardingDiskSystem {
 public:
  using ForwardingDiskSystem::ForwardingDiskSystem;

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) override {
    Note("open " + std::to_string(number));
    return Watched(ForwardingDiskSystem::OpenPhysicalDrive(number, why));
  }
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why = nullptr) override {
    Note("open " + volume);
    return Watched(ForwardingDiskSystem::OpenVolume(volume, why));
  }
  std::vector<std::string> LogicalVolumes() override {
    Note("volumes");
    return ForwardingDiskSystem::LogicalVolumes();
  }
  DriveType VolumeDriveType(const std::string& volume) override {
    Note("type " + volume);
    return ForwardingDiskSystem::VolumeDriveType(volume);
  }

  // What was asked on `thread`, in order ("open 3", "volumes", "command", ...).
  std::vector<std::string> CallsOn(std::thread::id thread) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> calls;
    for (const auto& [caller, call] : calls_) {
      if (caller == thread) calls.push_back(call);
    }
    return calls;
  }
  std::size_t CallCount() const {
    std::lock_guard lock(mutex_);
    return calls_.size();
  }

 private:
  class WatchedDisk : public ForwardingDisk {
   public:
    WatchedDisk(std::unique_ptr<Disk> inner, ThreadRecordingDiskSystem& owner)
        : ForwardingDisk(std::move(inner)), owner_(owner) {}
    ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
      owner_.Note("command");
      return ForwardingDisk::ExecuteDataIn(command);
    }
    std::optional<DiskExtent> VolumeDiskExtent() override {
      owner_.Note("extent");
      return ForwardingDisk::VolumeDiskExtent();
    }
    bool HoldAgainstOtherProcesses(std::uint32_t wait_ms) override {
      owner_.Note("hold");
      return ForwardingDisk::HoldAgainstOtherProcesses(wait_ms);
    }

   private:
    ThreadRecordingDiskSystem& owner_;
  };

  std::unique_ptr<Disk> Watched(std::unique_ptr<Disk> disk) {
    if (!disk) return disk;
    return std::make_unique<WatchedDisk>(std::move(disk), *this);
  }
  void Note(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.emplace_back(std::this_thread::get_id(), std::move(call));
  }

  mutable std::mutex mutex_;
  std::vector<std::pair<std::thread::id, std::string>> calls_;
};

}  // namespace raid::testing
