// SPDX-License-Identifier: GPL-2.0-or-later
// The host's block devices as sysfs describes them. Every path is taken under `root` ("/" on a
// real host) so that tests can build a fake /sys in a temporary folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "device/disk_system.h"

namespace raid {

// Physical drive N is the SCSI disk whose kernel name has index N: sda = 0, ..., sdz = 25,
// sdaa = 26. A disk keeps its name while it stays attached, so a number never moves to another
// disk when a lower-numbered one goes away.
std::string ScsiDiskName(unsigned number);
// The number of a whole SCSI disk's name; empty for anything else (sda1, sr0, vda, dm-0).
std::optional<unsigned> ScsiDiskNumber(const std::string& name);

// A block device found through its device number.
struct BlockDevice {
  std::string name;  // sdb1, sdb, dm-0, sr0
  std::string disk;  // the whole disk it belongs to: sdb (equal to name for a disk)
  bool partition = false;
  std::filesystem::path sysfs_path;  // its folder under sys/devices
  std::filesystem::path disk_path;   // the whole disk's folder
};

// The device major:minor names, or empty when sysfs does not know it (anonymous device numbers
// of btrfs, overlay and the like).
std::optional<BlockDevice> ResolveBlockDevice(const std::filesystem::path& root, unsigned major,
                                              unsigned minor);

// How Windows would class the device: CD-ROM, removable, fixed, else unknown.
DriveType BlockDeviceDriveType(const BlockDevice& device);

// Where the device lies on a physical drive. Empty unless it is an sd* disk or a partition of
// one: device-mapper, md, loop and the like may span several disks, like a Windows volume
// whose extents query fails.
std::optional<DiskExtent> BlockDeviceExtent(const BlockDevice& device);

// What tells this disk apart from one that later takes its name: the kernel's disk sequence
// number (Linux 5.15 on), else the device number with the device's path through the buses
// (USB port, SCSI host), which a replugged disk does not keep. `sysfs_dir` is the disk's folder
// (sys/block/sdX or sys/dev/block/M:m); `device_number` is "M:m" when known.
DiskIdentity SysfsDiskIdentity(const std::filesystem::path& sysfs_dir,
                               const std::string& device_number);

}  // namespace raid
