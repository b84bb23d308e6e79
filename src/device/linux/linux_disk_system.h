// SPDX-License-Identifier: GPL-2.0-or-later
// The host's disks on Linux: physical drive N is the SCSI disk whose kernel name has index N
// (/dev/sda = 0, /dev/sdb = 1), a volume is a mounted block-device file system named by its
// mount point, commands go through SG_IO on a read-only descriptor.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/disk_system.h"
#include "device/linux/mount_info.h"

namespace raid {

class LinuxDiskSystem : public DiskSystem {
 public:
  // `root` prefixes every /sys, /proc and /dev path: "/" on a real host, a fake tree in tests.
  explicit LinuxDiskSystem(std::filesystem::path root = "/");

  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) override;
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why = nullptr) override;
  std::vector<std::string> LogicalVolumes() override;
  DriveType VolumeDriveType(const std::string& volume) override;
  std::string PhysicalDrivePath(unsigned number) override;

 private:
  struct Volume;
  std::vector<Volume> MountedVolumes() const;
  std::optional<Volume> FindVolume(const std::string& mount_point) const;
  std::filesystem::path HostPath(const std::string& absolute) const;

  std::filesystem::path root_;
};

}  // namespace raid
