// SPDX-License-Identifier: GPL-2.0-or-later
// What the last SMART reads left, per enclosure position and member drive: the data and
// threshold sectors and IDENTIFY word 106, for every position a list can hold.
//
// The RAID worker writes while the window reads, so every access takes one lock: a writer stores
// one whole 128-byte part at a time, and readers get copies, never a half-written part.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>

#include "common/shared_state.h"
#include "health/smart_sector.h"

namespace raid {

inline constexpr unsigned kSmartPositions = kMaxEnclosures;
inline constexpr unsigned kMemberDrives = 2;

struct SmartDriveRecord {
  SmartSector data{};        // SMART READ DATA
  SmartSector thresholds{};  // SMART READ THRESHOLDS
  std::uint16_t word106 = 0;
  bool operator==(const SmartDriveRecord&) const = default;
};

enum class SmartSectorKind { kData, kThresholds };

class SmartStore {
 public:
  // `thresholds_read` is the shared flag the SMART countdown looks at (ThresholdsRead).
  explicit SmartStore(std::atomic<bool>& thresholds_read) : thresholds_read_(thresholds_read) {}

  // A copy of one drive's record; empty for a position or drive that is not kept.
  std::optional<SmartDriveRecord> Snapshot(unsigned position, unsigned drive) const;

  // True when the last threshold read of every present drive succeeded.
  bool ThresholdsRead() const { return thresholds_read_.load(); }
  void SetThresholdsRead(bool read) { thresholds_read_.store(read); }

  // The writers ignore positions and drives that are not kept and return false for them.
  bool StorePart(unsigned position, unsigned drive, SmartSectorKind kind, std::size_t part,
                 std::span<const std::uint8_t, kSmartPartSize> bytes);
  bool ClearSector(unsigned position, unsigned drive, SmartSectorKind kind);
  bool SetWord106(unsigned position, unsigned drive, std::uint16_t word106);

 private:
  static bool Kept(unsigned position, unsigned drive) {
    return position < kSmartPositions && drive < kMemberDrives;
  }
  SmartSector& SectorLocked(unsigned position, unsigned drive, SmartSectorKind kind);

  mutable std::mutex mutex_;
  std::array<std::array<SmartDriveRecord, kMemberDrives>, kSmartPositions> records_{};
  std::atomic<bool>& thresholds_read_;
};

}  // namespace raid
