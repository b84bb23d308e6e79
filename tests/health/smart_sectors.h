// SPDX-License-Identifier: GPL-2.0-or-later
// SMART data and threshold sectors laid out by hand, slot by slot, for the tests that judge and
// show them.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "common/bytes.h"
#include "health/smart_store.h"

namespace raid::testing {

struct Slot {
  std::uint8_t id = 0;
  std::uint8_t worst = 100;
  std::uint8_t threshold = 0;
  std::uint64_t raw = 0;
  std::uint8_t current = 100;
};

inline void PutSlot(SmartDriveRecord& record, std::size_t slot, const Slot& s) {
  const std::size_t at = 2 + slot * 12;
  record.data[at] = s.id;
  record.data[at + 3] = s.current;
  record.data[at + 4] = s.worst;
  WriteLittleEndian(record.data, at + 5, 6, s.raw);
  record.thresholds[at] = s.id;
  record.thresholds[at + 1] = s.threshold;
}

// The slots in order from the first, with word 106 of a drive without 4K sectors.
inline SmartDriveRecord RecordOf(std::initializer_list<Slot> slots,
                                 std::uint16_t word106 = 0x4000) {
  SmartDriveRecord record;
  std::size_t slot = 0;
  for (const Slot& s : slots)
    PutSlot(record, slot++, s);
  record.word106 = word106;
  return record;
}

}  // namespace raid::testing
