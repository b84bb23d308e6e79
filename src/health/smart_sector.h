// SPDX-License-Identifier: GPL-2.0-or-later
// The SMART READ DATA and READ THRESHOLDS sectors as ATA drives lay them out: a revision word,
// then 30 attribute slots of 12 bytes. The threshold of a data slot is in the threshold slot at
// the same place; its ID is not compared.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace raid {

inline constexpr std::size_t kSmartSectorSize = 512;
inline constexpr std::size_t kSmartPartSize = 128;  // the controller hands a sector out in 4 parts
inline constexpr std::size_t kSmartParts = 4;
inline constexpr std::size_t kSmartSlots = 30;

using SmartSector = std::array<std::uint8_t, kSmartSectorSize>;

struct SmartAttribute {
  std::uint8_t id = 0;  // 0: an empty slot
  std::uint8_t current = 0;
  std::uint8_t worst = 0;
  std::uint8_t threshold = 0;
  std::uint64_t raw = 0;  // 48 bits
};

// Data slot `slot` (0-29) with the threshold of the same slot.
SmartAttribute AttributeAt(const SmartSector& data, const SmartSector& thresholds,
                           std::size_t slot);

// The rows the table shows: the slots from the first on while their ID is not zero. Used slots
// after an empty one are not shown.
std::size_t SmartRowCount(const SmartSector& data);

// The raw value as the RAW column shows it: 12 upper-case hex digits, most significant first.
std::string RawValueText(std::uint64_t raw);

}  // namespace raid
