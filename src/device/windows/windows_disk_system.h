// SPDX-License-Identifier: GPL-2.0-or-later
// The host's disks on Windows: \\.\PhysicalDriveN, volumes by drive letter ("C"), commands
// through IOCTL_SCSI_PASS_THROUGH_DIRECT. Win32 failures come back as values.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/disk_system.h"

namespace raid {

class WindowsDiskSystem : public DiskSystem {
 public:
  std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) override;
  // `volume` is a drive letter as LogicalVolumes gives it: "C".
  std::unique_ptr<Disk> OpenVolume(const std::string& volume, OpenFailure* why = nullptr) override;
  std::vector<std::string> LogicalVolumes() override;
  DriveType VolumeDriveType(const std::string& volume) override;
  std::string PhysicalDrivePath(unsigned number) override;
};

}  // namespace raid
