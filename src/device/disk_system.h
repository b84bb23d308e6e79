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

enum class OpenFailure { kNone, kNotFound, kAccessDenied, kOther };

class Disk {
 public:
  virtual ~Disk() = default;
  // True when the command completed and delivered its data.
  virtual bool ExecuteDataIn(const ScsiDataIn& command) = 0;
  // For an opened volume: its disk extent; empty when the volume spans several disks or the
  // question cannot be answered.
  virtual std::optional<DiskExtent> VolumeDiskExtent() = 0;
};

class DiskSystem {
 public:
  virtual ~DiskSystem() = default;
  // Physical drive `number` (0-15): \\.\PhysicalDriveN on Windows, the N-th whole SCSI disk on
  // Linux. Empty when it cannot be opened; `why` then says why.
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
