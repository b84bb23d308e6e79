// SPDX-License-Identifier: GPL-2.0-or-later
#include "health/smart_dump.h"

#include <algorithm>

namespace raid {
namespace {

constexpr unsigned kDumpedPosition = 0;

std::array<std::uint8_t, kMemberDrives * kSmartSectorSize> BothDrives(
    const std::array<SmartDriveRecord, kMemberDrives>& records, SmartSectorKind kind) {
  std::array<std::uint8_t, kMemberDrives * kSmartSectorSize> bytes{};
  for (unsigned drive = 0; drive < kMemberDrives; ++drive) {
    const SmartSector& sector =
        kind == SmartSectorKind::kData ? records[drive].data : records[drive].thresholds;
    std::copy(sector.begin(), sector.end(), bytes.begin() + drive * kSmartSectorSize);
  }
  return bytes;
}

}  // namespace

SmartDumpResult DumpSmartSectors(const std::filesystem::path& folder, const SmartStore& store) {
  std::array<SmartDriveRecord, kMemberDrives> records{};
  for (unsigned drive = 0; drive < kMemberDrives; ++drive) {
    records[drive] = store.Snapshot(kDumpedPosition, drive).value_or(SmartDriveRecord{});
  }
  SmartDumpResult result;
  result.data =
      GetSPIFWInfo(folder, kSpiDumpSmartData, BothDrives(records, SmartSectorKind::kData));
  result.thresholds = GetSPIFWInfo(folder, kSpiDumpSmartThresholds,
                                   BothDrives(records, SmartSectorKind::kThresholds));
  return result;
}

}  // namespace raid
