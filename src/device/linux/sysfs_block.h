// The host's block devices as sysfs describes them. Every path is taken under `root` ("/" on a
// real host) so that tests can build a fake /sys in a temporary folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "device/disk_system.h"

namespace raid {

// The whole SCSI disks (sda, sdb, ..., sdz, sdaa, ...) in the kernel's natural order, which is
// the order of physical drive numbers: shorter names first, then by name.
std::vector<std::string> ScsiDiskNames(const std::filesystem::path& root);

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
std::optional<DiskExtent> BlockDeviceExtent(const std::filesystem::path& root,
                                            const BlockDevice& device);

}  // namespace raid
