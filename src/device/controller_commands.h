// SPDX-License-Identifier: GPL-2.0-or-later
// The controller's commands, each one packet exchange. The status queries and drive commands open
// the target device themselves (TargetDevice) and close it again; the flash commands run on a
// disk that the flash range operations keep open.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "device/disk_system.h"
#include "device/enclosure_list.h"
#include "device/exchange_gate.h"
#include "device/transport.h"

namespace raid {

inline constexpr std::size_t kFlashBlockSize = 128;
inline constexpr std::size_t kFlashSectorSize = 4096;
inline constexpr std::size_t kFlashDataOffset = 80;  // flash and drive data in the response

inline constexpr std::uint8_t kQueryControllerAlive = 0x10;
inline constexpr std::uint8_t kQueryControllerInfo = 0x11;
inline constexpr std::uint8_t kQueryRebuildProgress = 0x15;
inline constexpr std::uint8_t kQueryArrayStatus = 0x17;

inline constexpr std::uint8_t kAtaIdentify = 0xEC;

// The drive commands, and where their answers echo the opcode and first argument of the command
// the controller answered.
inline constexpr std::uint8_t kOpDriveAta = 0xB1;
inline constexpr std::uint8_t kOpDriveControl = 0xB2;
inline constexpr std::size_t kDriveEchoOffset = 76;

// Time limits of the exchanges: milliseconds from 10 on, tries below.
inline constexpr std::uint32_t kAliveQueryLimitMs = 1000;
inline constexpr std::uint32_t kCommandLimitMs = 3000;
inline constexpr std::uint32_t kDriveCommandTries = 3;

class ControllerCommands {
 public:
  // `target` is the rule that names the disk of the commands that open their device themselves;
  // empty when there is no device to address.
  ControllerCommands(DiskSystem& disks, Transport& transport, ExchangeGate& gate,
                     std::function<std::optional<DiskRef>()> target);

  // Status queries 0x10, 0x11, 0x15, 0x17. `out` receives the whole response sector whenever the
  // response was polled, also when the result is a failure; it is untouched when the device
  // could not be opened or the knock sequence failed. `answered`, when given, receives the
  // signature pair of this query's own answer (it is left alone when there was none).
  ResultCode QueryController(std::uint8_t code, std::span<std::uint8_t, 512> out,
                             ControllerKind* answered = nullptr);
  // The same query to an enclosure named by its disk, for the status poll, which walks the
  // listed enclosures without moving the selection the window shows.
  ResultCode QueryControllerOn(const std::optional<DiskRef>& target, std::uint8_t code,
                               std::span<std::uint8_t, 512> out,
                               ControllerKind* answered = nullptr);

  // Flash commands on an open disk; `address` is a byte address, sent as address / 128.
  ResultCode ReadFlashBlock(Disk& disk, std::uint32_t address,
                            std::span<std::uint8_t, kFlashBlockSize> out);
  ResultCode WriteFlashBlock(Disk& disk, std::uint32_t address,
                             std::span<const std::uint8_t, kFlashBlockSize> in);
  ResultCode EraseFlashBlock(Disk& disk, std::uint32_t address);

  // ATA command to member drive `port`: IDENTIFY DEVICE for feature 0xEC, else SMART with that
  // feature. The result is fetched afterwards with DriveControlCommand, in four 128-byte parts.
  ResultCode DriveAtaCommand(std::uint8_t feature, std::uint8_t port,
                             std::span<std::uint8_t, 512> out);
  ResultCode DriveControlCommand(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                 std::span<std::uint8_t, 512> out);
  // The same commands to an enclosure named by its disk, for the SMART reads, which walk the
  // listed enclosures from the RAID worker without moving the selection the window shows.
  ResultCode DriveAtaCommandOn(const std::optional<DiskRef>& target, std::uint8_t feature,
                               std::uint8_t port, std::span<std::uint8_t, 512> out);
  ResultCode DriveControlCommandOn(const std::optional<DiskRef>& target, std::uint8_t a,
                                   std::uint8_t b, std::uint8_t c,
                                   std::span<std::uint8_t, 512> out);

  ExchangeGate& gate() { return gate_; }

 private:
  std::optional<DiskRef> Target() const;
  ResultCode ExchangeOn(const std::optional<DiskRef>& target, std::uint8_t direction,
                        std::uint8_t opcode, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
                        std::span<const std::uint8_t> payload, std::uint32_t limit,
                        std::span<std::uint8_t, 512> out, ControllerKind* answered = nullptr);

  DiskSystem& disks_;
  Transport& transport_;
  ExchangeGate& gate_;
  std::function<std::optional<DiskRef>()> target_;
};

}  // namespace raid
