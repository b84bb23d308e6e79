// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/flash_access.h"

#include <algorithm>
#include <array>
#include <string>

#include "common/bytes.h"
#include "device/target_device.h"

namespace raid {
namespace {

constexpr const char* kNoDevicePanel = "Device not found!!!";
constexpr const char* kNoDeviceBox = "No Device found !";
constexpr const char* kNoUpgradePanel = "No Upgrade Mode!!!";
constexpr const char* kNoUpgradeBox = "No Upgrade Mode !";
constexpr const char* kInvalidDrive = "Invalid Drive";

struct OperationTexts {
  const char* attempt_prefix;  // followed by the attempt number
  const char* final_prefix;    // followed by the address
};

OperationTexts TextsFor(bool read, bool write) {
  if (read) return {"ReadSPI fail ", "ReadSPI fail, Address = "};
  if (write) return {"WriteSPI fail", "WriteSPI fail, Address = "};
  return {"EraseSPI fail ", "EraseSPI fail, Address = "};
}

std::string AddressText(std::uint32_t address) {
  return HexUpper(address, 4);
}

}  // namespace

FlashAccess::FlashAccess(DiskSystem& disks, ControllerCommands& commands, Clock& clock,
                         SharedState& state, const EnclosureRegistry& registry)
    : disks_(disks), commands_(commands), clock_(clock), state_(state), registry_(registry) {}

std::optional<DiskRef> FlashAccess::UpgradeDrive(UiSink& ui) const {
  if (registry_.current.empty()) {
    ui.SetPanelText(kFlashStatusPanel, kNoDevicePanel);
    ui.ShowMessage({kMessageCaption, kNoDeviceBox, MessageIcon::kNone});
    return std::nullopt;
  }
  const unsigned target = state_.upgrade.target_index.load();
  if (target >= registry_.current.size()) {
    ui.SetPanelText(kFlashStatusPanel, kNoUpgradePanel);
    ui.ShowMessage({kMessageCaption, kNoUpgradeBox, MessageIcon::kNone});
    return std::nullopt;
  }
  return registry_.current[target].Ref();
}

bool FlashAccess::FlashRead(std::uint32_t start, std::uint32_t length,
                            std::span<std::uint8_t> destination, UiSink& ui) {
  if (!state_.detection.running.load()) {
    return FlashReadUpgradeTarget(start, length, destination, ui);
  }
  if (destination.size() < length) return false;
  return RunRange(Operation::kRead, registry_.probe, start, length, destination, {}, ui);
}

bool FlashAccess::FlashReadUpgradeTarget(std::uint32_t start, std::uint32_t length,
                                         std::span<std::uint8_t> destination, UiSink& ui) {
  if (destination.size() < length) return false;
  const std::optional<DiskRef> drive = UpgradeDrive(ui);
  if (!drive) return false;
  return RunRange(Operation::kRead, *drive, start, length, destination, {}, ui);
}

bool FlashAccess::FlashWrite(std::uint32_t start, std::uint32_t length,
                             std::span<const std::uint8_t> source, UiSink& ui) {
  if (source.size() < length) return false;
  const std::optional<DiskRef> drive = UpgradeDrive(ui);
  if (!drive) return false;
  return RunRange(Operation::kWrite, *drive, start, length, {}, source, ui);
}

bool FlashAccess::FlashErase(std::uint32_t start, std::uint32_t length, UiSink& ui) {
  const std::optional<DiskRef> drive = UpgradeDrive(ui);
  if (!drive) return false;
  return RunRange(Operation::kErase, *drive, start, length, {}, {}, ui);
}

bool FlashAccess::RunRange(Operation operation, const DiskRef& drive, std::uint32_t start,
                           std::uint32_t length, std::span<std::uint8_t> destination,
                           std::span<const std::uint8_t> source, UiSink& ui) {
  std::optional<ExchangeGate::Hold> hold = commands_.gate().Enter();
  std::unique_ptr<Disk> disk = hold ? OpenTargetDisk(disks_, drive) : nullptr;
  if (!disk) {
    ui.ShowMessage({"", kInvalidDrive, MessageIcon::kNone});
    return false;
  }
  const OperationTexts texts =
      TextsFor(operation == Operation::kRead, operation == Operation::kWrite);
  const std::uint32_t unit = operation == Operation::kErase ? kFlashSectorSize : kFlashBlockSize;

  for (std::uint32_t offset = 0; offset < length; offset += unit) {
    const std::uint32_t address = start + offset;
    const std::size_t in_range = std::min<std::size_t>(kFlashBlockSize, length - offset);
    std::array<std::uint8_t, kFlashBlockSize> block;
    block.fill(0xFF);
    if (operation == Operation::kWrite) {
      std::copy_n(source.begin() + offset, in_range, block.begin());
    }

    bool done = false;
    for (int attempt = 1; attempt <= kFlashAttempts && !done; ++attempt) {
      clock_.ProcessMessages();
      ResultCode result = kResultDone;
      switch (operation) {
        case Operation::kRead:
          result = commands_.ReadFlashBlock(*disk, address, block);
          break;
        case Operation::kWrite:
          result = commands_.WriteFlashBlock(*disk, address, block);
          break;
        case Operation::kErase:
          result = commands_.EraseFlashBlock(*disk, address);
          break;
      }
      done = result == kResultDone;
      if (!done) {
        ui.SetPanelText(kFlashStatusPanel, texts.attempt_prefix + std::to_string(attempt) +
                                               " times, Address = " + AddressText(address));
      }
    }
    if (!done) {
      ui.SetPanelText(kFlashStatusPanel, texts.final_prefix + AddressText(address));
      return false;
    }
    if (operation == Operation::kRead) {
      std::copy_n(block.begin(), in_range, destination.begin() + offset);
    }
    state_.upgrade.progress_count.fetch_add(1);
  }
  return true;
}

}  // namespace raid
