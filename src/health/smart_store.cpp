// SPDX-License-Identifier: GPL-2.0-or-later
#include "health/smart_store.h"

#include <algorithm>

namespace raid {

std::optional<SmartDriveRecord> SmartStore::Snapshot(unsigned position, unsigned drive) const {
  if (!Kept(position, drive)) return std::nullopt;
  const std::lock_guard lock(mutex_);
  return records_[position][drive];
}

SmartSector& SmartStore::SectorLocked(unsigned position, unsigned drive, SmartSectorKind kind) {
  SmartDriveRecord& record = records_[position][drive];
  return kind == SmartSectorKind::kData ? record.data : record.thresholds;
}

bool SmartStore::StorePart(unsigned position, unsigned drive, SmartSectorKind kind,
                           std::size_t part, std::span<const std::uint8_t, kSmartPartSize> bytes) {
  if (!Kept(position, drive) || part >= kSmartParts) return false;
  const std::lock_guard lock(mutex_);
  SmartSector& sector = SectorLocked(position, drive, kind);
  std::copy(bytes.begin(), bytes.end(), sector.begin() + part * kSmartPartSize);
  return true;
}

bool SmartStore::ClearSector(unsigned position, unsigned drive, SmartSectorKind kind) {
  if (!Kept(position, drive)) return false;
  const std::lock_guard lock(mutex_);
  SectorLocked(position, drive, kind).fill(0);
  return true;
}

bool SmartStore::SetWord106(unsigned position, unsigned drive, std::uint16_t word106) {
  if (!Kept(position, drive)) return false;
  const std::lock_guard lock(mutex_);
  records_[position][drive].word106 = word106;
  return true;
}

}  // namespace raid
