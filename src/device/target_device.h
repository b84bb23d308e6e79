// SPDX-License-Identifier: GPL-2.0-or-later
// Which physical drive a controller command addresses.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "common/shared_state.h"
#include "device/disk_system.h"
#include "device/enclosure_list.h"

namespace raid {

// The upgrade target while a firmware upgrade addresses it, else the drive being probed while
// discovery runs, else the selected enclosure. Empty when the rule names no listed enclosure:
// then nothing is sent rather than a command to whatever disk happens to be drive 0.
std::optional<DiskRef> TargetDevice(const SharedState& state, const EnclosureRegistry& registry);

// How long an exchange waits for another process's exchange with the same disk: a little longer
// than one read that the bridge holds until its time-out (kRead10TimeoutSeconds), well within a
// service watchdog's patience.
inline constexpr std::uint32_t kExchangeHoldWaitMs = 35000;

// Opens the disk `target` names, and only that disk: when another disk has taken its number
// since discovery identified it, nothing is opened and the caller fails as for a missing drive.
// Commands therefore never reach a newcomer before the next discovery has identified it. The
// disk is held against other processes' exchanges until it is closed; when another process
// keeps it past kExchangeHoldWaitMs, nothing is opened either.
std::unique_ptr<Disk> OpenTargetDisk(DiskSystem& disks, const DiskRef& target);

}  // namespace raid
