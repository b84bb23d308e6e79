// SPDX-License-Identifier: GPL-2.0-or-later
#include "health/smart_sector.h"

#include "common/bytes.h"

namespace raid {
namespace {

constexpr std::size_t kFirstSlot = 2;
constexpr std::size_t kSlotSize = 12;
constexpr std::size_t kCurrent = 3;
constexpr std::size_t kWorst = 4;
constexpr std::size_t kRaw = 5;
constexpr std::size_t kRawWidth = 6;
constexpr std::size_t kThreshold = 1;

std::size_t SlotOffset(std::size_t slot) {
  return kFirstSlot + slot * kSlotSize;
}

}  // namespace

SmartAttribute AttributeAt(const SmartSector& data, const SmartSector& thresholds,
                           std::size_t slot) {
  const std::size_t at = SlotOffset(slot);
  return {data[at], data[at + kCurrent], data[at + kWorst], thresholds[at + kThreshold],
          ReadLittleEndian(data, at + kRaw, kRawWidth)};
}

std::size_t SmartRowCount(const SmartSector& data) {
  std::size_t rows = 0;
  while (rows < kSmartSlots && data[SlotOffset(rows)] != 0)
    ++rows;
  return rows;
}

std::string RawValueText(std::uint64_t raw) {
  return HexUpper(raw & 0xFFFFFFFFFFFFULL, 12);
}

}  // namespace raid
