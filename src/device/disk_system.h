// SPDX-License-Identifier: GPL-2.0-or-later
// The host's disks as the logic sees them. A back end (Linux SG_IO, Windows pass-through, the
// simulator) only carries a finished CDB to the device; the CDBs themselves are built in one
// place (scsi_commands.h), and there is no way to send data to a disk.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace raid {

// One data-in SCSI command. `data` is the caller's buffer, used in place.
struct ScsiDataIn {
  std::array<std::uint8_t, 10> cdb{};
  std::uint8_t cdb_length = 10;
  std::span<std::uint8_t> data;
  std::uint32_t timeout_seconds = 0;
};

// Where a volume lies: the physical drive of its first extent.
struct DiskExtent {
  std::uint32_t disk_number = 0;
  std::uint64_t starting_offset = 0;
  std::uint64_t extent_length = 0;
};

// Drive type codes of the volumes, with the values Windows uses for them.
enum class DriveType : std::uint8_t {
  kUnknown = 0,
  kNoRootDir = 1,
  kRemovable = 2,
  kFixed = 3,
  kRemote = 4,
  kCdRom = 5,
  kRamDisk = 6,
};

// kInUse: another program holds the disk in a way that keeps others out.
enum class OpenFailure { kNone, kNotFound, kAccessDenied, kInUse, kOther };

inline constexpr std::uint8_t kScsiStatusGood = 0x00;
inline constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

// Sense key, additional sense code and qualifier of a CHECK CONDITION.
struct SenseCode {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  bool operator==(const SenseCode&) const = default;
};

// What became of one command. The back ends report it as the platform gave it; whether that
// counts as a delivered block is decided in one place (scsi_commands.h).
struct ScsiOutcome {
  bool transported = false;               // the platform carried the command to the device and back
  std::uint8_t status = kScsiStatusGood;  // the device's SCSI status byte
  std::optional<SenseCode> sense{};       // with a CHECK CONDITION, when the device sent one

  // Carried, and answered GOOD when `good`; not carried at all otherwise.
  static ScsiOutcome Completed(bool good = true) {
    ScsiOutcome outcome;
    outcome.transported = good;
    return outcome;
  }
};

// Tells an attached disk apart from a disk that later takes its number or name: the kernel's
// disk sequence number on Linux, the device number and serial on Windows. Opaque; compared for
// equality only. Empty when the platform cannot tell.
using DiskIdentity = std::string;

class Disk {
 public:
  virtual ~Disk() = default;
  virtual ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) = 0;
  // For an opened volume: its disk extent; empty when the volume spans several disks or the
  // question cannot be answered.
  virtual std::optional<DiskExtent> VolumeDiskExtent() = 0;
  // Of the opened disk itself, never of what its number or name means later.
  virtual DiskIdentity Identity() = 0;
  // Keeps every other process's controller exchanges with this disk out until it is closed: the
  // controller decodes one knock sequence at a time, whoever sends it (a window and a monitoring
  // service on one host, or a firmware upgrade beside either). False when another process kept
  // it for `wait_ms`. A disk that cannot be held this way (the simulator's, a platform without
  // the means) answers true.
  virtual bool HoldAgainstOtherProcesses(std::uint32_t wait_ms) {
    (void)wait_ms;
    return true;
  }
};

class DiskSystem {
 public:
  virtual ~DiskSystem() = default;
  // Physical drive `number` (0-15): \\.\PhysicalDriveN on Windows, the SCSI disk whose kernel
  // name has index N on Linux (sda = 0, sdb = 1, ...). A number names the same disk for as long
  // as that disk stays attached. Empty when it cannot be opened; `why` then says why.
  virtual std::unique_ptr<Disk> OpenPhysicalDrive(unsigned number, OpenFailure* why = nullptr) = 0;
  // A volume by the name LogicalVolumes gave it (a drive letter on Windows, a mount point on
  // Linux).
  virtual std::unique_ptr<Disk> OpenVolume(const std::string& volume,
                                           OpenFailure* why = nullptr) = 0;
  // The host's volumes in order: drive letters from C upwards on Windows.
  virtual std::vector<std::string> LogicalVolumes() = 0;
  virtual DriveType VolumeDriveType(const std::string& volume) = 0;
  // Shown to people in errors and traces: "/dev/sdb", "\\.\PhysicalDrive1".
  virtual std::string PhysicalDrivePath(unsigned number) = 0;
};

}  // namespace raid
