// SPDX-License-Identifier: GPL-2.0-or-later
#include "health/smart_reader.h"

#include <algorithm>
#include <span>

#include "common/bytes.h"
#include "health/word106.h"
#include "status/controller_status.h"

namespace raid {
namespace {

constexpr std::size_t kWord106Offset = 212;
constexpr std::uint8_t kWord106Part = 2;  // the part that holds bytes 128-255

std::span<const std::uint8_t, kSmartPartSize> PartBytes(const std::array<std::uint8_t, 512>& r) {
  return std::span<const std::uint8_t, 512>(r).subspan<kFlashDataOffset, kSmartPartSize>();
}

// What tells one member drive from the next that takes its bay.
std::string DriveIdentity(const ControllerStatus& record, unsigned drive) {
  return record.DriveModel(drive) + '\n' + record.DriveSerial(drive);
}

}  // namespace

bool SmartReadPass::AnyFailed() const {
  return std::any_of(failed.begin(), failed.end(), [](const auto& drives) {
    return std::find(drives.begin(), drives.end(), true) != drives.end();
  });
}

DriveSmartReader::DriveSmartReader(ControllerCommands& commands, SharedState& state,
                                   const EnclosureRegistry& registry, const StatusRecords& records,
                                   SmartStore& store, WatchPolicy watch)
    : commands_(commands),
      state_(state),
      registry_(registry),
      records_(records),
      store_(store),
      watch_(watch) {}

bool DriveSmartReader::Held() const {
  if (state_.upgrade.target_index.load() != kNoUpgradeTarget || registry_.current.empty()) {
    return true;
  }
  const unsigned watched = std::min(watch_.polled_positions, kSmartPositions);
  for (unsigned position = 0; position < watched; ++position) {
    if (state_.polling.monitor_checked[position].load()) return false;
  }
  return true;
}

bool DriveSmartReader::Wanted(unsigned position) const {
  return !watch_.smart_of_checked_only || state_.polling.monitor_checked[position].load();
}

SmartReadPass DriveSmartReader::Read(std::uint8_t feature) {
  pass_feature_.reset();  // a whole pass of its own
  while (!ReadSmart(feature)) {
  }
  SmartReadPass pass = pass_;
  pass_ = {};
  return pass;
}

// Each enclosure is addressed by its own disk rather than by moving SelectedDeviceIndex to it
// and back: that index is the window thread's (what it shows, where the target rule sends the
// commands that do not name a disk), and moving it from this thread would race the window's
// handlers. For the same reason there is no "switch of the shown enclosure in progress" to wait
// for: a switch changes nothing these reads address.
bool DriveSmartReader::ReadSmart(std::uint8_t feature) {
  if (pass_feature_ != feature) {
    pass_feature_ = feature;
    next_position_ = 0;
    pass_ = {};
  }
  if (Held()) {
    // A pass that has begun reports what it read; one that has not, that it did not run.
    EndPass(feature);
    return true;
  }
  pass_.ran = true;
  const unsigned count = std::min(
      {static_cast<unsigned>(registry_.current.size()), watch_.polled_positions, kSmartPositions});
  while (next_position_ < count && !Wanted(next_position_))
    ++next_position_;
  if (next_position_ < count) ReadPosition(next_position_++, feature);
  while (next_position_ < count && !Wanted(next_position_))
    ++next_position_;
  if (next_position_ < count) return false;
  EndPass(feature);
  return true;
}

void DriveSmartReader::EndPass(std::uint8_t feature) {
  pass_feature_.reset();
  if (pass_.ran) {
    if (feature == kSmartThresholdsFeature) {
      store_.SetThresholdsRead(!pass_.AnyFailed());
    } else if (after_data_read_ && state_.polling.smart_readings_shown.load()) {
      after_data_read_();
    }
    if (pass_listener_) pass_listener_(feature, pass_);
  }
}

void DriveSmartReader::ReadPosition(unsigned position, std::uint8_t feature) {
  const SmartSectorKind kind =
      feature == kSmartDataFeature ? SmartSectorKind::kData : SmartSectorKind::kThresholds;
  pass_.read[position] = true;
  const EnclosureInfo& info = registry_.current[position];
  const ControllerStatus& record = records_.Record(DriveNumberOf(info.device_code));
  const std::uint8_t flags = record.DriveFlags();
  for (unsigned drive = 0; drive < kMemberDrives; ++drive) {
    if ((flags & DriveFlag(kDrivePresent, drive)) == 0) {
      store_.ClearSector(position, drive, kind);
      store_.SetWord106(position, drive, kWord106DriveAbsent);
      if (kind == SmartSectorKind::kThresholds) thresholds_of_[position][drive].reset();
      continue;
    }
    const auto port = static_cast<std::uint8_t>(info.port_swap ? 1 - drive : drive);
    const std::string identity = DriveIdentity(record, drive);
    std::optional<std::string>& thresholds_of = thresholds_of_[position][drive];
    // A drive put in the bay since its thresholds were read (a swap is no new discovery) is
    // judged by its own thresholds, never by the drive it replaced.
    if (kind == SmartSectorKind::kData && thresholds_of != identity) {
      if (ReadDrive(info.Ref(), position, drive, port, kSmartThresholdsFeature)) {
        thresholds_of = identity;
      } else {
        thresholds_of.reset();
        store_.ClearSector(position, drive, SmartSectorKind::kThresholds);
        store_.SetThresholdsRead(false);
      }
    }
    pass_.failed[position][drive] = !ReadDrive(info.Ref(), position, drive, port, feature);
    // A failed read leaves old parts beside new ones: still this drive's if they were before.
    if (kind == SmartSectorKind::kThresholds &&
        (!pass_.failed[position][drive] || thresholds_of != identity)) {
      thresholds_of = pass_.failed[position][drive] ? std::nullopt : std::optional(identity);
    }
  }
}

bool DriveSmartReader::ReadDrive(const DiskRef& target, unsigned position, unsigned drive,
                                 std::uint8_t port, std::uint8_t feature) {
  const SmartSectorKind kind =
      feature == kSmartDataFeature ? SmartSectorKind::kData : SmartSectorKind::kThresholds;
  for (int attempt = 0; attempt < kSmartDriveAttempts; ++attempt) {
    if (feature == kSmartDataFeature) {
      store_.SetWord106(position, drive, ReadWord106(target, port));
    }
    if (commands_.DriveAtaCommandOn(target, feature, port, response_) != kResultDone) continue;
    bool complete = true;
    for (std::uint8_t part = 1; part <= kSmartParts; ++part) {
      if (FetchPart(target, feature, port, part, false) == kResultDone) {
        store_.StorePart(position, drive, kind, part - 1U, PartBytes(response_));
      } else {
        complete = false;  // the part keeps its old bytes
      }
    }
    return complete;
  }
  return false;
}

std::uint16_t DriveSmartReader::ReadWord106(const DiskRef& target, std::uint8_t port) {
  if (commands_.DriveAtaCommandOn(target, kAtaIdentify, port, response_) != kResultDone) {
    return kWord106NotDelivered;
  }
  if (!EchoIs(kOpDriveAta, kAtaIdentify)) {
    return WrongEchoCode(response_[kDriveEchoOffset], response_[kDriveEchoOffset + 1]);
  }
  SmartSector identify;
  identify.fill(0xFF);
  std::optional<std::uint16_t> code;
  for (std::uint8_t part = 1; part <= kSmartParts; ++part) {
    const ResultCode result = FetchPart(target, kAtaIdentify, port, part, true);
    if (result == kResultDone && EchoIs(kOpDriveControl, kAtaIdentify)) {
      const auto bytes = PartBytes(response_);
      std::copy(bytes.begin(), bytes.end(), identify.begin() + (part - 1U) * kSmartPartSize);
    } else if (part == kWord106Part) {
      code = result != kResultDone
                 ? kWord106PartMissing
                 : WrongEchoCode(response_[kDriveEchoOffset], response_[kDriveEchoOffset + 1]);
    }
  }
  if (code) return *code;
  return static_cast<std::uint16_t>(ReadLittleEndian(identify, kWord106Offset, 2));
}

ResultCode DriveSmartReader::FetchPart(const DiskRef& target, std::uint8_t feature,
                                       std::uint8_t port, std::uint8_t part, bool echo) {
  ResultCode result = kResultDone;
  for (int attempt = 0; attempt < kSmartPartTries; ++attempt) {
    result = commands_.DriveControlCommandOn(target, feature, port, part, response_);
    if (result == kResultDone && (!echo || EchoIs(kOpDriveControl, feature))) break;
  }
  return result;
}

bool DriveSmartReader::EchoIs(std::uint8_t opcode, std::uint8_t argument) const {
  return response_[kDriveEchoOffset] == opcode && response_[kDriveEchoOffset + 1] == argument;
}

}  // namespace raid
