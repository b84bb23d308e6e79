// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/target_device.h"

namespace raid {
namespace {

std::optional<DiskRef> RefAt(const EnclosureRegistry& registry, unsigned position) {
  if (position >= registry.current.size()) return std::nullopt;
  return registry.current[position].Ref();
}

}  // namespace

std::optional<DiskRef> TargetDevice(const SharedState& state, const EnclosureRegistry& registry) {
  if (state.upgrade.target_selected.load()) {
    return RefAt(registry, state.upgrade.target_index.load());
  }
  if (state.detection.running.load()) return registry.probe;
  return RefAt(registry, state.target.selected_index.load());
}

std::unique_ptr<Disk> OpenTargetDisk(DiskSystem& disks, const DiskRef& target) {
  std::unique_ptr<Disk> disk = disks.OpenPhysicalDrive(DriveNumberOf(target.device_code));
  if (disk && disk->Identity() != target.identity) return nullptr;
  if (disk && !disk->HoldAgainstOtherProcesses(kExchangeHoldWaitMs)) return nullptr;
  return disk;
}

}  // namespace raid
