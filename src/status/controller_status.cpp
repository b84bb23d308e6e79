// SPDX-License-Identifier: GPL-2.0-or-later
#include "status/controller_status.h"

#include <algorithm>

#include "common/bytes.h"
#include "common/text_helpers.h"

namespace raid {
namespace {

namespace L = status_layout;

// Array-status reply (0x17).
constexpr std::size_t kReplyRawMode = 80;
constexpr std::array<std::size_t, 2> kReplyPortBlocks = {84, 160};
constexpr std::size_t kPortModel = 4;
constexpr std::size_t kPortSerial = 44;
constexpr std::size_t kPortCapacity = 70;

// Rebuild-progress reply (0x15).
constexpr std::size_t kReplyRebuildState = 84;
constexpr std::uint8_t kRebuildRunning = 2;
constexpr std::size_t kReplyTotalSectors = 94;
constexpr std::size_t kReplyCurrentSector = 119;

constexpr std::uint8_t kPortInArray = 0;
constexpr std::uint8_t kPortRebuildTarget = 1;
constexpr std::uint8_t kPortNewlyInserted = 6;
constexpr std::uint8_t kPortTooSmall = 9;

std::uint8_t DriveFlagForPortState(std::uint8_t code) {
  switch (code) {
    case kPortInArray:
    case kPortRebuildTarget:
      return kDrivePresent;
    case kPortNewlyInserted:
      return kDriveInserted;
    case kPortTooSmall:
      return kDriveFailed;
    default:
      return kDriveAbsent;
  }
}

}  // namespace

std::uint16_t ControllerStatus::FanSpeed() const {
  return static_cast<std::uint16_t>(ReadLittleEndian(bytes, L::kFanSpeed, 2));
}

unsigned ControllerStatus::LinkSpeed(unsigned drive) const {
  const std::uint8_t both = bytes[L::kLinkSpeeds];
  return drive == 0 ? (both & 0x0F) : (both >> 4);
}

std::uint64_t ControllerStatus::ArrayCapacity() const {
  return ReadLittleEndian(bytes, L::kArrayCapacity, L::kCapacityLength) & kShownCapacityMask;
}

std::uint64_t ControllerStatus::DriveCapacity(unsigned drive) const {
  return ReadLittleEndian(bytes, L::CapacityOffset(drive), L::kCapacityLength);
}

std::string ControllerStatus::DriveModel(unsigned drive) const {
  return ModelText(bytes, L::ModelOffset(drive));
}

std::string ControllerStatus::DriveSerial(unsigned drive) const {
  return SerialText(bytes, L::SerialOffset(drive));
}

std::uint32_t ControllerStatus::BadSectorLba(unsigned entry) const {
  return static_cast<std::uint32_t>(
      ReadLittleEndian(bytes, L::BadSectorOffset(entry), L::kBadSectorLength));
}

bool ControllerStatus::IsFilledFor(unsigned slot) const {
  return bytes[L::kSlot] == slot && bytes[L::kValidMarker] == L::kValid;
}

std::uint8_t ControllerStatus::DriveState(unsigned drive) const {
  for (std::uint8_t state : {kDriveAbsent, kDrivePresent, kDriveFailed, kDriveInserted}) {
    if (DriveFlags() & DriveFlag(state, drive)) return state;
  }
  return 0;
}

void ControllerStatus::SetFanSpeed(std::uint16_t rpm) {
  WriteLittleEndian(bytes, L::kFanSpeed, 2, rpm);
}

void ControllerStatus::SetArrayCapacity(std::uint64_t sectors) {
  WriteLittleEndian(bytes, L::kArrayCapacity, L::kCapacityLength, sectors);
}

void ControllerStatus::ClearDriveDetails(unsigned drive) {
  std::fill_n(bytes.begin() + L::ModelOffset(drive), L::kModelLength, 0);
  std::fill_n(bytes.begin() + L::SerialOffset(drive), L::kSerialLength, 0);
  std::fill_n(bytes.begin() + L::CapacityOffset(drive), L::kCapacityLength, 0);
}

std::string_view DriveStateName(std::uint8_t state) {
  switch (state) {
    case kDriveAbsent:
      return "absent";
    case kDrivePresent:
      return "present";
    case kDriveFailed:
      return "failed";
    case kDriveInserted:
      return "inserted";
    default:
      return "unknown";
  }
}

bool SensorsShown(const ControllerStatus& record) {
  const std::uint8_t flags = record.SensorFlags();
  return (flags & 0xF0) == kSensorsReported && flags != kSensorPanelHidden;
}

std::uint8_t ArrayModeFromRaw(std::uint8_t raw) {
  switch (raw) {
    case 0:
      return kModeJbod;
    case 1:
      return kModeStriping;
    case 2:
      return kModeMirroring;
    default:
      return kModeBypass;
  }
}

std::uint8_t DecodeArrayStatus(std::span<const std::uint8_t, 512> reply,
                               const IdentificationBlock& identification,
                               ControllerStatus& record) {
  record.bytes[L::kMode] = ArrayModeFromRaw(reply[kReplyRawMode]);
  const bool hdd1_first = (identification[kIdPortOrder] & 0x10) != 0;
  std::uint8_t flags = 0;
  std::uint8_t activity = 0;
  for (unsigned drive = 0; drive < 2; ++drive) {
    const std::size_t block = kReplyPortBlocks[hdd1_first ? drive : 1 - drive];
    const std::uint8_t code = reply[block];
    record.bytes[L::kPortState + drive] = code;
    const std::uint8_t flag = DriveFlagForPortState(code);
    flags |= DriveFlag(flag, drive);
    if (code == kPortRebuildTarget) activity |= static_cast<std::uint8_t>(1U << drive);
    if (flag == kDriveAbsent) continue;  // an absent drive keeps its last known details
    std::copy_n(reply.begin() + block + kPortModel, L::kModelLength,
                record.bytes.begin() + L::ModelOffset(drive));
    std::copy_n(reply.begin() + block + kPortSerial, L::kSerialLength,
                record.bytes.begin() + L::SerialOffset(drive));
    WriteLittleEndian(record.bytes, L::CapacityOffset(drive), L::kCapacityLength,
                      ReadBigEndian(reply, block + kPortCapacity, L::kCapacityLength));
  }
  record.bytes[L::kDriveFlags] = flags;
  record.bytes[L::kActivity] = activity;
  return activity;
}

bool RebuildRunning(std::span<const std::uint8_t, 512> reply) {
  return reply[kReplyRebuildState] == kRebuildRunning;
}

std::uint64_t RebuildTotalSectors(std::span<const std::uint8_t, 512> reply) {
  return ReadBigEndian(reply, kReplyTotalSectors, 6);
}

std::uint8_t ProgressPercent(std::span<const std::uint8_t, 512> reply) {
  const std::uint64_t total = RebuildTotalSectors(reply);
  const std::uint64_t current = ReadBigEndian(reply, kReplyCurrentSector, 5);
  if (total == 0) return 0;  // a controller between states may report no total
  return static_cast<std::uint8_t>(std::min<std::uint64_t>(current * 100 / total, 100));
}

}  // namespace raid
