// SPDX-License-Identifier: GPL-2.0-or-later
// The program's own 512-byte status record of one enclosure, built from the controller's replies
// to the array-status (0x17), rebuild-progress (0x15) and information (0x11) queries. Everything
// shown, logged or mailed about an array is read from it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "device/enclosure_list.h"

namespace raid {

namespace status_layout {
inline constexpr std::size_t kSlot = 0;
inline constexpr std::size_t kValidMarker = 1;
inline constexpr std::size_t kPortState = 30;  // HDD1 at 30, HDD2 at 31
inline constexpr std::size_t kMode = 57;
inline constexpr std::size_t kSerial = 58;  // HDD1 at 58, HDD2 at 78, 20 bytes each
inline constexpr std::size_t kSerialLength = 20;
inline constexpr std::size_t kArrayCapacity = 98;  // 48 bits
inline constexpr std::size_t kCapacityLength = 6;  // the array's and each drive's
inline constexpr std::size_t kDriveFlags = 104;
inline constexpr std::size_t kActivity = 105;
inline constexpr std::size_t kProgress = 106;
inline constexpr std::size_t kSensorFormat = 108;
inline constexpr std::size_t kModel = 256;  // HDD1 at 256, HDD2 at 302, 40 bytes each
inline constexpr std::size_t kModelLength = 40;
inline constexpr std::size_t kDriveCapacity = 296;  // HDD1 at 296, HDD2 at 342, 48 bits
inline constexpr std::size_t kDriveStride = 46;     // from HDD1's model to HDD2's
inline constexpr std::size_t kSensorFlags = 348;
inline constexpr std::size_t kFanSpeed = 349;
inline constexpr std::size_t kTemperature = 351;
inline constexpr std::size_t kLinkSpeeds = 357;
inline constexpr std::size_t kBadSectorCount = 471;
inline constexpr std::size_t kBadSectorRing = 472;  // ten 32-bit LBAs
inline constexpr std::size_t kBadSectorLength = 4;
inline constexpr std::uint8_t kValid = 0xA0;

// Where a member drive's fields start, drive 0 being HDD1.
constexpr std::size_t ModelOffset(unsigned drive) {
  return kModel + drive * kDriveStride;
}
constexpr std::size_t SerialOffset(unsigned drive) {
  return kSerial + drive * kSerialLength;
}
constexpr std::size_t CapacityOffset(unsigned drive) {
  return kDriveCapacity + drive * kDriveStride;
}
// Entry 0-9 of the bad-sector ring.
constexpr std::size_t BadSectorOffset(unsigned entry) {
  return kBadSectorRing + kBadSectorLength * entry;
}
}  // namespace status_layout

// Drive flags (byte 104): one nibble per drive.
inline constexpr std::uint8_t kDriveInserted = 0x01;
inline constexpr std::uint8_t kDrivePresent = 0x02;
inline constexpr std::uint8_t kDriveAbsent = 0x04;
inline constexpr std::uint8_t kDriveFailed = 0x08;  // capacity too small
constexpr std::uint8_t DriveFlag(std::uint8_t flag, unsigned drive) {
  return static_cast<std::uint8_t>(flag << (4 * drive));
}
inline constexpr std::uint8_t kBothPresent = 0x22;

// Capacities are shown and logged by their low 40 bits.
inline constexpr std::uint64_t kShownCapacityMask = (std::uint64_t{1} << 40) - 1;

// Activity flags (byte 105).
inline constexpr std::uint8_t kRebuildingHdd1 = 0x01;
inline constexpr std::uint8_t kRebuildingHdd2 = 0x02;
inline constexpr std::uint8_t kRebuildActivity = 0x03;
inline constexpr std::uint8_t kBadSectorsHdd1 = 0x04;
inline constexpr std::uint8_t kBadSectorsHdd2 = 0x08;
inline constexpr std::uint8_t kMatchedSsd = 0x10;
inline constexpr std::uint8_t kScanOrSsdTooSmall = 0x80;

// Array modes as stored.
inline constexpr std::uint8_t kModeStriping = 0;
inline constexpr std::uint8_t kModeMirroring = 1;
inline constexpr std::uint8_t kModeJbod = 3;
inline constexpr std::uint8_t kModeBypass = 63;

inline constexpr std::uint8_t kSensorsReported = 0xA0;
inline constexpr std::uint8_t kSensorsNotReported = 0xFF;
inline constexpr std::uint8_t kSensorPanelHidden = 0xAA;
inline constexpr std::uint8_t kFanAlarm = 0x01;
inline constexpr std::uint8_t kTemperatureAlarm = 0x04;

class ControllerStatus {
 public:
  std::array<std::uint8_t, 512> bytes{};

  std::uint8_t PortState(unsigned drive) const { return bytes[status_layout::kPortState + drive]; }
  std::uint8_t Mode() const { return bytes[status_layout::kMode]; }
  std::uint8_t DriveFlags() const { return bytes[status_layout::kDriveFlags]; }
  std::uint8_t Activity() const { return bytes[status_layout::kActivity]; }
  std::uint8_t Progress() const { return bytes[status_layout::kProgress]; }
  std::uint8_t SensorFormat() const { return bytes[status_layout::kSensorFormat]; }
  std::uint8_t SensorFlags() const { return bytes[status_layout::kSensorFlags]; }
  std::uint16_t FanSpeed() const;
  std::uint8_t Temperature() const { return bytes[status_layout::kTemperature]; }
  unsigned LinkSpeed(unsigned drive) const;
  std::uint64_t ArrayCapacity() const;  // the low 40 bits, which every text uses
  std::uint64_t DriveCapacity(unsigned drive) const;
  std::string DriveModel(unsigned drive) const;   // trimmed
  std::string DriveSerial(unsigned drive) const;  // as stored, 20 characters
  std::uint8_t BadSectorCount() const { return bytes[status_layout::kBadSectorCount]; }
  std::uint32_t BadSectorLba(unsigned entry) const;  // ring entry 0-9
  bool IsFilledFor(unsigned slot) const;
  // The state of a member drive by its flags, the first that holds of absent, present, failed
  // and inserted (kDriveAbsent ... kDriveInserted); 0 when none does.
  std::uint8_t DriveState(unsigned drive) const;

  void SetFanSpeed(std::uint16_t rpm);
  void SetTemperature(std::uint8_t degrees) { bytes[status_layout::kTemperature] = degrees; }
  void SetArrayCapacity(std::uint64_t sectors);
  void SetProgress(std::uint8_t percent) { bytes[status_layout::kProgress] = percent; }
  void ClearDriveDetails(unsigned drive);
};

// The status records by slot, as the status monitor keeps them.
class StatusRecords {
 public:
  virtual ~StatusRecords() = default;
  virtual const ControllerStatus& Record(unsigned slot) const = 0;
};

// A DriveState as raidctl and the metrics name it: "absent", "present", "failed", "inserted",
// or "unknown" for 0.
std::string_view DriveStateName(std::uint8_t state);

// Whether the enclosure reports fan and temperature, as the Status page decides (the window
// also asks whether the panel is allowed at all).
bool SensorsShown(const ControllerStatus& record);

// Raw mode of the array-status reply to the stored mode.
std::uint8_t ArrayModeFromRaw(std::uint8_t raw);

// Decodes an array-status (0x17) reply into the record: mode, port state codes, drive and
// activity flags, and model, serial and capacity of every port that is not absent. The port
// order comes from bit 4 of identification byte 49. Returns the activity bits set.
std::uint8_t DecodeArrayStatus(std::span<const std::uint8_t, 512> reply,
                               const IdentificationBlock& identification, ControllerStatus& record);

// Rebuild (or scan) progress from a 0x15 reply: current x 100 / total, 0 when the total is 0.
std::uint8_t ProgressPercent(std::span<const std::uint8_t, 512> reply);
bool RebuildRunning(std::span<const std::uint8_t, 512> reply);
std::uint64_t RebuildTotalSectors(std::span<const std::uint8_t, 512> reply);

}  // namespace raid
