// SPDX-License-Identifier: GPL-2.0-or-later
// The host's real disks: SG_IO on Linux, IOCTL_SCSI_PASS_THROUGH_DIRECT on Windows. The build
// picks the one file that implements this for the platform.
#pragma once

#include <memory>

#include "device/disk_system.h"

namespace raid {

std::unique_ptr<DiskSystem> CreatePlatformDiskSystem();

}  // namespace raid
