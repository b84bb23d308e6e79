// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/discovery.h"

#include <algorithm>
#include <array>

#include "device/scsi_commands.h"
#include "device/target_device.h"

namespace raid {
namespace {

constexpr const char* kTooManyVolumes = "Drive Count Must less than 20.";

// Offsets in the controller information reply (the identification block before the rewrite).
constexpr std::size_t kReplyFirmwareRevision = 88;
constexpr std::size_t kReplyModelText = 160;
constexpr std::size_t kFirmwareRevisionLength = 8;

// Controllers with these product codes answer like enclosures but are not RAID enclosures.
bool IsExcludedProduct(const IdentificationBlock& block) {
  const std::uint8_t p0 = block[kIdProductCode];
  const std::uint8_t p1 = block[kIdProductCode + 1];
  return p1 == 0x00 && (p0 == 0x50 || p0 == 0x05);
}

constexpr std::size_t kInquiryVendorProduct = 8;  // vendor (8) and product (16) text
constexpr std::size_t kInquiryTextLength = 16;

}  // namespace

Discovery::Discovery(DiskSystem& disks, ControllerCommands& commands, FlashAccess& flash,
                     Clock& clock, SharedState& state, EnclosureRegistry& registry)
    : disks_(disks),
      commands_(commands),
      flash_(flash),
      clock_(clock),
      state_(state),
      registry_(registry) {}

unsigned Discovery::CountLogicalDrives() {
  std::vector<std::string> names;
  for (std::string& name : disks_.LogicalVolumes()) {
    clock_.ProcessMessages();
    names.push_back(std::move(name));
  }
  registry_.volume_names = std::move(names);
  return static_cast<unsigned>(registry_.volume_names.size());
}

unsigned Discovery::CountPhysicalDrives() {
  std::vector<DiskRef> drives;
  unopened_.clear();
  for (unsigned drive = 0; drive < kProbedDrives; ++drive) {
    clock_.ProcessMessages();
    OpenFailure why = OpenFailure::kNone;
    if (const std::unique_ptr<Disk> disk = disks_.OpenPhysicalDrive(drive, &why)) {
      drives.push_back({drive, disk->Identity()});
    } else if (why != OpenFailure::kNotFound && why != OpenFailure::kNone) {
      unopened_.push_back({drive, why});
    }
  }
  registry_.physical_drive_count = static_cast<unsigned>(drives.size());
  registry_.physical_drives = std::move(drives);
  return registry_.physical_drive_count;
}

bool Discovery::RecountChangedDrives() {
  const std::vector<std::string> volumes = registry_.volume_names;
  const std::vector<DiskRef> drives = registry_.physical_drives;
  CountLogicalDrives();
  CountPhysicalDrives();
  // The same number of drives can still be other disks: one that took the number of one that
  // left is new to discovery.
  return registry_.volume_names.size() != volumes.size() || registry_.physical_drives != drives;
}

void Discovery::BuildVolumeTable(UiSink& ui) {
  std::vector<VolumeRecord> records;
  for (const std::string& name : registry_.volume_names) {
    if (records.size() == kMaxVolumeRecords) {
      ui.ShowMessage({"", kTooManyVolumes, MessageIcon::kNone});
      break;
    }
    clock_.ProcessMessages();
    VolumeRecord record;
    record.volume = name;
    record.drive_type = static_cast<std::uint8_t>(disks_.VolumeDriveType(name));
    std::unique_ptr<Disk> volume = disks_.OpenVolume(name);
    if (!volume) {
      record.drive_type = kVolumeUnopenable;
    } else if (const std::optional<DiskExtent> extent = volume->VolumeDiskExtent()) {
      record.has_extent = true;
      record.disk_number = static_cast<std::uint8_t>(extent->disk_number & 0xFF);
      record.starting_offset = extent->starting_offset;
      record.extent_length = extent->extent_length;
    }
    records.push_back(std::move(record));
  }
  registry_.fresh_volumes = std::move(records);
}

std::optional<unsigned> Discovery::UpgradeTargetPosition() const {
  const unsigned target = state_.upgrade.target_index.load();
  if (target == kNoUpgradeTarget || state_.detection.initial.load()) return std::nullopt;
  if (target >= registry_.current.size()) return std::nullopt;
  return target;
}

bool Discovery::AmongPhysicalDrives(const EnclosureInfo& info) const {
  const std::vector<DiskRef>& drives = registry_.physical_drives;
  return std::any_of(drives.begin(), drives.end(), [&](const DiskRef& drive) {
    return DriveNumberOf(drive.device_code) == DriveNumberOf(info.device_code) &&
           drive.identity == info.identity;
  });
}

void Discovery::ReadModelFromInquiry(IdentificationBlock& block) {
  std::array<std::uint8_t, kInquiryLength> inquiry{};
  bool answered = false;
  {
    std::optional<ExchangeGate::Hold> hold = commands_.gate().Enter();
    std::unique_ptr<Disk> disk = hold ? OpenTargetDisk(disks_, registry_.probe) : nullptr;
    answered = disk && PassThroughInquiry(*disk, inquiry);
  }
  if (!answered) return;  // the model text stays as the controller's reply had it
  for (std::size_t k = 0; k < kInquiryTextLength; ++k) {
    block[kIdModelText + k] = inquiry[kInquiryVendorProduct + (k ^ 1U)];
  }
  std::fill(block.begin() + kIdModelText + kInquiryTextLength,
            block.begin() + kIdModelText + kIdModelLength, static_cast<std::uint8_t>(' '));
}

bool Discovery::KeepListedEnclosure(unsigned drive) {
  if (state_.detection.initial.load() || registry_.probe.identity.empty()) return false;
  const auto listed = std::find_if(registry_.current.begin(), registry_.current.end(),
                                   [&](const EnclosureInfo& info) {
                                     return DriveNumberOf(info.device_code) == drive &&
                                            info.identity == registry_.probe.identity;
                                   });
  if (listed == registry_.current.end()) return false;
  const auto position = static_cast<unsigned>(registry_.fresh.size());
  registry_.fresh.push_back(*listed);
  registry_.running_blocks[drive] = registry_.previous_blocks[drive];
  if (filler_ != nullptr) filler_->KeptWithoutAnswer(position, drive);
  return true;
}

Discovery::ProbeResult Discovery::ProbeDrive(unsigned drive, unsigned position, UiSink& ui) {
  IdentificationBlock& block = registry_.running_blocks[drive];
  if (commands_.QueryController(kQueryControllerAlive, block) != kResultDone) {
    return ProbeResult::kSilent;
  }
  clock_.SleepMs(kDiscoveryPauseMs);
  EnclosureInfo info;
  if (commands_.QueryController(kQueryControllerInfo, block, &info.controller_kind) !=
      kResultDone) {
    return ProbeResult::kSilent;
  }
  std::copy_n(block.begin() + kReplyFirmwareRevision, kFirmwareRevisionLength,
              block.begin() + kIdFirmwareRevision);
  if (IsExcludedProduct(block)) return ProbeResult::kNoEnclosure;

  std::array<std::uint8_t, 256> flash_head{};
  flash_.FlashRead(0, static_cast<std::uint32_t>(flash_head.size()), flash_head, ui);
  info.firmware_type_byte = flash_head[kFirmwareTypeFlashOffset];

  if (block[kReplyModelText] != 0) {
    info.model_from_controller = true;
    std::copy_n(block.begin() + kReplyModelText, kIdModelLength, block.begin() + kIdModelText);
  } else {
    ReadModelFromInquiry(block);
  }
  info.port_swap = (block[kIdPortOrder] & 0x10) == 0;
  info.sensor_capable = block[kIdSensorReport] == 0 && block[kIdSensorReport + 1] == 0;
  info.device_code = drive | kEnclosureBit;
  info.identity = registry_.probe.identity;
  registry_.fresh.push_back(info);

  clock_.SleepMs(kDiscoveryPauseMs);
  if (filler_ != nullptr) filler_->InitialStatusFill(position, drive);
  registry_.probe.device_code = info.device_code;
  return ProbeResult::kEnclosure;
}

unsigned Discovery::DiscoverEnclosures(UiSink& ui) {
  for (IdentificationBlock& block : registry_.running_blocks)
    block.fill(0);
  registry_.fresh.clear();

  // The enclosure under upgrade must not see a single command from the pass, and must keep its
  // position: UpgradeTargetIndex names it there. Once its disk has gone it is dropped, and its
  // drive number is probed like any other.
  const std::optional<unsigned> target = UpgradeTargetPosition();
  registry_.fresh_upgrade_target.reset();
  std::optional<EnclosureInfo> kept;
  if (target) {
    registry_.fresh_upgrade_target = UpgradeTargetMove{*target, kUpgradeTargetGone};
    if (AmongPhysicalDrives(registry_.current[*target])) kept = registry_.current[*target];
  }
  bool placed = false;
  const auto place_target = [&] {
    const unsigned drive = DriveNumberOf(kept->device_code);
    registry_.fresh_upgrade_target->to = static_cast<unsigned>(registry_.fresh.size());
    registry_.fresh.push_back(*kept);
    registry_.running_blocks[drive] = registry_.previous_blocks[drive];
    placed = true;
  };

  unsigned opened = 0;
  for (unsigned drive = 0; drive < kProbedDrives; ++drive) {
    if (state_.shutting_down.load()) break;
    clock_.ProcessMessages();
    if (kept && !placed && registry_.fresh.size() == *target) place_target();
    if (kept && drive == DriveNumberOf(kept->device_code)) {
      ++opened;
    } else {
      std::unique_ptr<Disk> disk = disks_.OpenPhysicalDrive(drive);
      if (!disk) continue;
      // Every command of the probe goes to this disk, or to none if another takes its number.
      registry_.probe = {drive, disk->Identity()};
      disk.reset();
      if (ProbeDrive(drive, static_cast<unsigned>(registry_.fresh.size()), ui) ==
          ProbeResult::kSilent) {
        KeepListedEnclosure(drive);
      }
      ++opened;
    }
    if (opened == registry_.physical_drive_count) break;
  }
  // Fewer enclosures ahead of it than before: it moves up, and UpgradeTargetIndex follows.
  if (kept && !placed) place_target();
  return static_cast<unsigned>(registry_.fresh.size());
}

void Discovery::RunDiscovery(UiSink& ui) {
  BuildVolumeTable(ui);
  if (DiscoverEnclosures(ui) == 0) DiscoverEnclosures(ui);
}

}  // namespace raid
