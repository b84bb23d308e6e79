// SPDX-License-Identifier: GPL-2.0-or-later
// How much of the SPI flash an upgrade erases, programs and reads back for an image of a given
// size, and how far its progress bar goes.
#pragma once

#include <cstdint>

#include "device/controller_commands.h"

namespace raid {

// The flash behind the controller. Its packets carry a 16-bit block number of 128 bytes, so
// nothing past 8 MiB can be addressed: a larger address wraps to the start of the flash.
inline constexpr std::uint32_t kFlashSize = 8 * 1024 * 1024;

// The upgrade's span E: the image size rounded down to 8 KiB, plus 8 KiB.
constexpr std::uint64_t UpgradeSpan(std::uint64_t image_size) {
  constexpr std::uint64_t kGranule = 8192;
  return image_size / kGranule * kGranule + kGranule;
}

// Small images have twice their span erased; from 64 KiB on, the span itself.
constexpr std::uint64_t EraseLength(std::uint64_t image_size) {
  const std::uint64_t span = UpgradeSpan(image_size);
  return span <= 0x10000 ? 2 * span : span;
}

constexpr std::uint64_t ProgressMaximum(std::uint64_t image_size) {
  const std::uint64_t span = UpgradeSpan(image_size);
  return span / kFlashBlockSize * 2 + span / kFlashSectorSize + 30;
}

// Whether an upgrade with this image stays inside the flash. An image of exactly 8 MiB does
// not: its erase would reach 8 KiB past the end and wrap to the first sectors.
constexpr bool FitsFlash(std::uint64_t image_size) {
  return EraseLength(image_size) <= kFlashSize;
}

}  // namespace raid
