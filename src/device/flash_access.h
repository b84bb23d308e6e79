// SPDX-License-Identifier: GPL-2.0-or-later
// Read, program and erase of a range of the controller's SPI flash, unit by unit with retries.
#pragma once

#include <cstdint>
#include <span>

#include "common/clock.h"
#include "common/shared_state.h"
#include "common/ui_sink.h"
#include "device/controller_commands.h"
#include "device/enclosure_list.h"

namespace raid {

inline constexpr int kFlashAttempts = 9;
inline constexpr int kFlashStatusPanel = 4;

class FlashAccess {
 public:
  FlashAccess(DiskSystem& disks, ControllerCommands& commands, Clock& clock, SharedState& state,
              const EnclosureRegistry& registry);

  // While discovery runs: the drive being probed; otherwise the enclosure under upgrade.
  // `destination` must hold `length` bytes.
  bool FlashRead(std::uint32_t start, std::uint32_t length, std::span<std::uint8_t> destination,
                 UiSink& ui);
  // The upgrade's read-back: the enclosure under upgrade, also while a discovery pass runs on
  // another thread (FlashRead would then read the drive being probed).
  bool FlashReadUpgradeTarget(std::uint32_t start, std::uint32_t length,
                              std::span<std::uint8_t> destination, UiSink& ui);
  // The enclosure under upgrade. A last block shorter than 128 bytes is padded with 0xFF, which
  // leaves the flash beyond the image as erased.
  bool FlashWrite(std::uint32_t start, std::uint32_t length, std::span<const std::uint8_t> source,
                  UiSink& ui);
  bool FlashErase(std::uint32_t start, std::uint32_t length, UiSink& ui);

  // The disk of the enclosure at UpgradeTargetIndex. Empty, with the status text and message
  // box of a missing enclosure shown, when the list is empty or does not reach that far.
  std::optional<DiskRef> UpgradeDrive(UiSink& ui) const;

 private:
  enum class Operation { kRead, kWrite, kErase };

  bool RunRange(Operation operation, const DiskRef& drive, std::uint32_t start,
                std::uint32_t length, std::span<std::uint8_t> destination,
                std::span<const std::uint8_t> source, UiSink& ui);

  DiskSystem& disks_;
  ControllerCommands& commands_;
  Clock& clock_;
  SharedState& state_;
  const EnclosureRegistry& registry_;
};

}  // namespace raid
