// SPDX-License-Identifier: GPL-2.0-or-later
// One data-in SCSI command through the Linux SG_IO ioctl.
#pragma once

#include <scsi/sg.h>

#include <array>
#include <cstdint>

#include "device/disk_system.h"

namespace raid {

inline constexpr std::size_t kSgSenseLength = 32;
using SgSense = std::array<std::uint8_t, kSgSenseLength>;

// The request for `command`: its buffer used in place, the sense going to `sense`. `command`
// and `sense` must outlive the request.
sg_io_hdr_t MakeSgIoRequest(const ScsiDataIn& command, SgSense& sense);

// What a finished request came to. `ioctl_result` is what ioctl returned. The transport part
// is strict: any host or driver trouble (a time-out, a reset, a gone device) fails it; the
// driver's "sense data present" flag alone does not.
ScsiOutcome SgIoOutcome(int ioctl_result, const sg_io_hdr_t& request, const SgSense& sense);

// Sends `command` to the open device `fd` and waits for it.
ScsiOutcome ExecuteSgIo(int fd, const ScsiDataIn& command);

}  // namespace raid
