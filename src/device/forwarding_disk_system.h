// SPDX-License-Identifier: GPL-2.0-or-later
// A DiskSystem that hands every call to another one, and a Disk that does the same: the bases of
// wrappers that watch or change only some of the calls.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/disk_system.h"

namespace raid {

class ForwardingDisk : public Disk {
 public:
  explicit ForwardingDisk(std::unique_ptr<Disk> inner) : inner_(std::move(inner)) {}

  ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
    return inner_->ExecuteDataIn(command);
  }
  std::optional<DiskExtent> VolumeDiskExtent() override { return inner_->VolumeDiskExtent(); }
  DiskIdentity Identity() override { return inner_->Identity(); }
  bool HoldAgainstOtherProcesses(std::uint32_t wait_ms) override {
    return inner_->HoldAgainstOtherProcesses(wait_ms);
  }

 protected:
  // Closes the disk now, before the wrapper's own end.
  void Close() { inner_.reset(); }

 private:
  std::unique_ptr<Disk> inner_;
};

class ForwardingDiskSystem : public DiskSystem {
 public:
  explicit ForwardingDiskSystem(DiskSystem& inner) : inner_(inner) {}

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) override {
    return inner_.OpenPhysicalDrive(number, why);
  }
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why = nullptr) override {
    return inner_.OpenVolume(volume, why);
  }
  std::vector<std::string> LogicalVolumes() override { return inner_.LogicalVolumes(); }
  DriveType VolumeDriveType(const std::string& volume) override {
    return inner_.VolumeDriveType(volume);
  }
  std::string PhysicalDrivePath(unsigned number) override {
    return inner_.PhysicalDrivePath(number);
  }

 protected:
  DiskSystem& inner() { return inner_; }

 private:
  DiskSystem& inner_;
};

}  // namespace raid
