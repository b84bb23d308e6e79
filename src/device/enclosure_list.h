// SPDX-License-Identifier: GPL-2.0-or-later
// The enclosure lists and what discovery learned about each enclosure. The current list is what
// the rest of the program addresses by position; discovery fills the new list, and the window
// thread installs it once the pass has finished.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/shared_state.h"
#include "device/disk_system.h"
#include "device/transport.h"

namespace raid {

inline constexpr unsigned kProbedDrives = 10;  // physical drive numbers 0-9 are probed
static_assert(kProbedDrives == kMaxEnclosures);
inline constexpr unsigned kDriveSlots = 16;  // slots indexed by the low four code bits
inline constexpr std::uint32_t kEnclosureBit = 0x40;
inline constexpr std::size_t kMaxVolumeRecords = 20;

constexpr unsigned DriveNumberOf(std::uint32_t device_code) {
  return device_code & 0x0F;
}

using IdentificationBlock = std::array<std::uint8_t, 512>;

// Offsets in the identification block.
inline constexpr std::size_t kIdFirmwareRevision = 46;  // 8 bytes: date code 46-49, product 50-51
inline constexpr std::size_t kIdPortOrder = 49;         // bit 4 set: block at 84 is HDD1
inline constexpr std::size_t kIdProductCode = 50;
inline constexpr std::size_t kIdModelText = 54;  // 40 characters, pairs swapped
inline constexpr std::size_t kIdModelLength = 40;
inline constexpr std::size_t kIdSensorReport = 124;  // 124 and 125 both zero: sensors reported

// A disk as discovery identified it: the device code (the drive number in its low four bits)
// and what tells that disk apart from another that later takes its number.
struct DiskRef {
  std::uint32_t device_code = 0;
  DiskIdentity identity{};
  bool operator==(const DiskRef&) const = default;
};

struct EnclosureInfo {
  std::uint32_t device_code = 0;
  DiskIdentity identity{};  // of the disk discovery talked to
  ControllerKind controller_kind = ControllerKind::kRaidBridge;
  std::uint8_t firmware_type_byte = 0;  // byte 149 of the controller's flash
  bool port_swap = false;               // member drive k sits at port 1 - k
  bool sensor_capable = false;          // fan and temperature are reported
  bool model_from_controller = false;   // the model text came from the 0x11 reply
  bool operator==(const EnclosureInfo&) const = default;

  DiskRef Ref() const { return {device_code, identity}; }
};

struct VolumeRecord {
  std::string volume;           // drive letter on Windows, mount point on Linux
  std::uint8_t drive_type = 0;  // the platform's type code, 255 when it could not be opened
  bool has_extent = false;      // false: not opened, or the volume spans several disks
  std::uint8_t disk_number = 0;
  std::uint64_t starting_offset = 0;
  std::uint64_t extent_length = 0;
};
inline constexpr std::uint8_t kVolumeUnopenable = 255;

// How the enclosure list changed between two discovery passes, in the order the log reports it.
struct ListChange {
  enum class Kind { kFound, kRemoved } kind;
  unsigned position;  // in the new list for kFound, in the old list for kRemoved
  bool operator==(const ListChange&) const = default;
};

// Where a pass that ran during an upgrade put the enclosure under upgrade: its position in the
// current list and the one it has in the new list (kUpgradeTargetGone when its disk had gone).
struct UpgradeTargetMove {
  unsigned from = 0;
  unsigned to = 0;
  bool operator==(const UpgradeTargetMove&) const = default;
};

struct EnclosureRegistry {
  std::vector<EnclosureInfo> current;  // positions 0, 1, ...
  std::vector<EnclosureInfo> fresh;    // filled by the running pass
  std::array<IdentificationBlock, kDriveSlots> running_blocks{};
  std::array<IdentificationBlock, kDriveSlots> previous_blocks{};
  DiskRef probe;                                          // the drive discovery is talking to
  std::optional<UpgradeTargetMove> fresh_upgrade_target;  // empty: the pass ran without one

  std::vector<std::string> volume_names;    // as last counted
  std::vector<VolumeRecord> volumes;        // as installed with the current list
  std::vector<VolumeRecord> fresh_volumes;  // built by the running pass
  unsigned physical_drive_count = 0;        // openable physical drives, as last counted
  std::vector<DiskRef> physical_drives;     // those drives, with the disk each number named then

  // The identification block of a current-list position, as installed.
  const IdentificationBlock& CurrentBlock(unsigned position) const {
    return previous_blocks[DriveNumberOf(current.at(position).device_code)];
  }
};

// Two enclosures are the same when their identification blocks are equal. The controller's live
// fan and temperature bytes are left out of the comparison: they change from pass to pass.
bool SameEnclosure(const IdentificationBlock& a, const IdentificationBlock& b);

// Walks the old and the new list in order and reports which enclosures were found and which were
// removed. Nothing is reported when the counts are equal.
std::vector<ListChange> CompareEnclosureLists(const std::vector<IdentificationBlock>& old_list,
                                              const std::vector<IdentificationBlock>& new_list);

// Installs the new list over the current one and returns how it changed. During the first
// discovery no change is reported. The installer then calls FollowUpgradeTarget.
std::vector<ListChange> InstallNewList(EnclosureRegistry& registry, bool initial_detection);

// After InstallNewList: UpgradeTargetIndex follows the enclosure under upgrade to where the pass
// put it, or becomes kUpgradeTargetGone when its disk had gone. Nothing changes when the
// upgrade ended while the list waited to be installed.
void FollowUpgradeTarget(const EnclosureRegistry& registry,
                         std::atomic<std::uint16_t>& upgrade_target_index);

}  // namespace raid
