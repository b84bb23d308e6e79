// SPDX-License-Identifier: GPL-2.0-or-later
// A DiskSystem over another whose disks throw on a chosen command, as a back end with a fault it
// does not turn into a result would: for the paths that must end an exception's work item, not
// the program, and leave nothing half done.
#pragma once

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "device/forwarding_disk_system.h"

namespace raid::testing {

class ThrowingDiskSystem : public ForwardingDiskSystem {
 public:
  using ForwardingDiskSystem::ForwardingDiskSystem;

  // The `commands`-th command from now (1: the next one) to any disk throws `text`, once.
  void ThrowAt(int commands, std::string text) {
    text_ = std::move(text);
    countdown_.store(commands);
  }
  int thrown() const { return thrown_.load(); }

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) override {
    return Wrap(inner().OpenPhysicalDrive(number, why));
  }
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why = nullptr) override {
    return Wrap(inner().OpenVolume(volume, why));
  }

 private:
  class ThrowingDisk : public ForwardingDisk {
   public:
    ThrowingDisk(std::unique_ptr<Disk> inner, ThrowingDiskSystem& owner)
        : ForwardingDisk(std::move(inner)), owner_(owner) {}
    ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
      if (owner_.countdown_.fetch_sub(1) == 1) {
        ++owner_.thrown_;
        throw std::runtime_error(owner_.text_);
      }
      return ForwardingDisk::ExecuteDataIn(command);
    }

   private:
    ThrowingDiskSystem& owner_;
  };

  std::unique_ptr<Disk> Wrap(std::unique_ptr<Disk> disk) {
    if (!disk) return disk;
    return std::make_unique<ThrowingDisk>(std::move(disk), *this);
  }

  std::string text_;
  std::atomic<int> countdown_{0};  // at or below 0: nothing to throw
  std::atomic<int> thrown_{0};
};

}  // namespace raid::testing
