// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/device_watch.h"

namespace raid {

RecountWatcher::RecountWatcher(DiskSystem& disks, Clock& clock, std::uint32_t interval_ms)
    : disks_(disks), clock_(clock), interval_ms_(interval_ms) {}

RecountWatcher::Census RecountWatcher::Take() {
  Census census;
  census.volumes = disks_.LogicalVolumes();
  for (unsigned drive = 0; drive < kProbedDrives; ++drive) {
    OpenFailure why = OpenFailure::kNone;
    if (const std::unique_ptr<Disk> disk = disks_.OpenPhysicalDrive(drive, &why)) {
      census.drives.push_back({drive, disk->Identity()});
    } else if (why != OpenFailure::kNotFound && why != OpenFailure::kNone) {
      // Rights given or taken away change what a recount would say of the host.
      census.closed.emplace_back(drive, why);
    }
  }
  return census;
}

bool RecountWatcher::TakeChanges() {
  const std::uint64_t now = clock_.NowMs();
  if (last_ && now - last_look_ms_ < interval_ms_) return false;
  last_look_ms_ = now;
  Census census = Take();
  const bool changed = last_ && census != *last_;
  last_ = std::move(census);
  return changed;
}

}  // namespace raid
