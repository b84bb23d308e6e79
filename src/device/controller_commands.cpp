// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/controller_commands.h"

#include <algorithm>
#include <array>

#include "device/enclosure_list.h"
#include "device/target_device.h"

namespace raid {
namespace {

constexpr std::uint8_t kFlashSelector = 0x01;
constexpr std::uint8_t kOpReadFlash = 0x20;
constexpr std::uint8_t kOpEraseFlash = 0x23;
constexpr std::uint8_t kOpWriteFlash = 0x25;
constexpr std::uint8_t kAtaSmart = 0xB0;

struct FlashBlockNumber {
  std::uint8_t high;
  std::uint8_t low;
};

FlashBlockNumber BlockNumberOf(std::uint32_t address) {
  const std::uint32_t block = address >> 7;  // the packet carries 128-byte block numbers
  return {static_cast<std::uint8_t>((block >> 8) & 0xFF), static_cast<std::uint8_t>(block & 0xFF)};
}

// Host-to-device register frame for the drive behind the controller.
std::array<std::uint8_t, kPayloadSize> AtaFrame(std::uint8_t feature) {
  std::array<std::uint8_t, kPayloadSize> frame{};
  const bool identify = feature == kAtaIdentify;
  frame[0] = 0x27;
  frame[1] = 0x80;
  frame[2] = identify ? kAtaIdentify : kAtaSmart;
  frame[3] = identify ? 0x00 : feature;
  frame[4] = 0x01;
  frame[5] = 0x4F;  // SMART signature in LBA mid/high
  frame[6] = 0xC2;
  frame[7] = 0xE0;
  frame[12] = 0x01;  // sector count
  return frame;
}

}  // namespace

ControllerCommands::ControllerCommands(DiskSystem& disks, Transport& transport, ExchangeGate& gate,
                                       std::function<std::optional<DiskRef>()> target)
    : disks_(disks), transport_(transport), gate_(gate), target_(std::move(target)) {}

ResultCode ControllerCommands::ExchangeOn(const std::optional<DiskRef>& target,
                                          std::uint8_t direction, std::uint8_t opcode,
                                          std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
                                          std::span<const std::uint8_t> payload,
                                          std::uint32_t limit, std::span<std::uint8_t, 512> out,
                                          ControllerKind* answered) {
  if (!target) return kResultOpenFailed;
  std::optional<ExchangeGate::Hold> hold = gate_.Enter();
  if (!hold) return kResultOpenFailed;  // an exchange is already running on this thread
  std::unique_ptr<Disk> disk = OpenTargetDisk(disks_, *target);
  if (!disk) return kResultOpenFailed;
  const ResultCode result =
      transport_.SendVendorCommand(*disk, direction, opcode, p1, p2, p3, payload, limit);
  if (transport_.ResponsePolled()) {
    std::copy(transport_.Response().begin(), transport_.Response().end(), out.begin());
  }
  if (answered != nullptr && transport_.AnsweredKind()) *answered = *transport_.AnsweredKind();
  return result;
}

std::optional<DiskRef> ControllerCommands::Target() const {
  return target_ ? target_() : std::nullopt;
}

ResultCode ControllerCommands::QueryController(std::uint8_t code, std::span<std::uint8_t, 512> out,
                                               ControllerKind* answered) {
  return QueryControllerOn(Target(), code, out, answered);
}

ResultCode ControllerCommands::QueryControllerOn(const std::optional<DiskRef>& target,
                                                 std::uint8_t code,
                                                 std::span<std::uint8_t, 512> out,
                                                 ControllerKind* answered) {
  const std::uint32_t limit = code == kQueryControllerAlive ? kAliveQueryLimitMs : kCommandLimitMs;
  return ExchangeOn(target, kDirectionIn, code, 0xCF, 0xDF, 0xEF, {}, limit, out, answered);
}

ResultCode ControllerCommands::ReadFlashBlock(Disk& disk, std::uint32_t address,
                                              std::span<std::uint8_t, kFlashBlockSize> out) {
  const FlashBlockNumber block = BlockNumberOf(address);
  const ResultCode result = transport_.SendVendorCommand(
      disk, kDirectionIn, kOpReadFlash, kFlashSelector, block.high, block.low, {}, kCommandLimitMs);
  if (result == kResultDone) {
    const auto data = transport_.Response().begin() + kFlashDataOffset;
    std::copy(data, data + kFlashBlockSize, out.begin());
  }
  return result;
}

ResultCode ControllerCommands::WriteFlashBlock(Disk& disk, std::uint32_t address,
                                               std::span<const std::uint8_t, kFlashBlockSize> in) {
  const FlashBlockNumber block = BlockNumberOf(address);
  return transport_.SendVendorCommand(disk, kDirectionOut, kOpWriteFlash, kFlashSelector,
                                      block.high, block.low, in, kCommandLimitMs);
}

ResultCode ControllerCommands::EraseFlashBlock(Disk& disk, std::uint32_t address) {
  const FlashBlockNumber block = BlockNumberOf(address);
  return transport_.SendVendorCommand(disk, kDirectionOut, kOpEraseFlash, kFlashSelector,
                                      block.high, block.low, {}, kCommandLimitMs);
}

ResultCode ControllerCommands::DriveAtaCommand(std::uint8_t feature, std::uint8_t port,
                                               std::span<std::uint8_t, 512> out) {
  return DriveAtaCommandOn(Target(), feature, port, out);
}

ResultCode ControllerCommands::DriveControlCommand(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                                   std::span<std::uint8_t, 512> out) {
  return DriveControlCommandOn(Target(), a, b, c, out);
}

ResultCode ControllerCommands::DriveAtaCommandOn(const std::optional<DiskRef>& target,
                                                 std::uint8_t feature, std::uint8_t port,
                                                 std::span<std::uint8_t, 512> out) {
  const std::array<std::uint8_t, kPayloadSize> frame = AtaFrame(feature);
  return ExchangeOn(target, kDirectionOut, kOpDriveAta, feature, port, 0x00, frame,
                    kDriveCommandTries, out);
}

ResultCode ControllerCommands::DriveControlCommandOn(const std::optional<DiskRef>& target,
                                                     std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                                     std::span<std::uint8_t, 512> out) {
  return ExchangeOn(target, kDirectionIn, kOpDriveControl, a, b, c, {}, kDriveCommandTries, out);
}

}  // namespace raid
