// SPDX-License-Identifier: GPL-2.0-or-later
// The SMART reads the polling schedule asks for: which sector (the ATA SMART feature) and who
// reads it.
#pragma once

#include <cstdint>

namespace raid {

inline constexpr std::uint8_t kSmartDataFeature = 0xD0;
inline constexpr std::uint8_t kSmartThresholdsFeature = 0xD1;

// Reads the member drives' SMART data or thresholds of the listed enclosures, one enclosure per
// call, so that status polls can run between them. True once the pass over the enclosures is
// over (or nothing was read); false while enclosures of the pass remain.
class SmartReader {
 public:
  virtual ~SmartReader() = default;
  virtual bool ReadSmart(std::uint8_t feature) = 0;
};

}  // namespace raid
