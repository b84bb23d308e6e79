// SPDX-License-Identifier: GPL-2.0-or-later
// The one choke point that builds CDBs. Only READ(10) and INQUIRY exist: the controller protocol
// is carried entirely in one-block reads, and nothing here can write to a disk.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "device/disk_system.h"

namespace raid {

inline constexpr std::size_t kBlockSize = 512;
inline constexpr std::size_t kInquiryLength = 36;
// Every command is a one-block read that a working controller answers in milliseconds (slow
// controller work is waited for by polling block 17, never inside one read). A bridge that stops
// answering must not hold the program for longer than an ordinary disk read would.
inline constexpr std::uint32_t kRead10TimeoutSeconds = 30;
inline constexpr std::uint32_t kInquiryTimeoutSeconds = 30;

inline constexpr std::uint8_t kOpRead10 = 0x28;
inline constexpr std::uint8_t kOpInquiry = 0x12;

// Whether a command delivered its data: the platform carried it and the device answered GOOD.
// A CHECK CONDITION (a UNIT ATTENTION after a bridge reset, say) means the command was not
// executed, so the controller never saw that read: it counts as failed, whatever the sense.
bool Delivered(const ScsiOutcome& outcome);

// READ(10) of `blocks` blocks at `lba` into `buffer` (at least blocks x 512 bytes). Byte 7 of
// the CDB stays 0, so one command moves at most 255 blocks; every caller moves one.
bool PassThroughRead(Disk& disk, std::uint32_t lba, std::uint8_t blocks,
                     std::span<std::uint8_t> buffer);

// Standard INQUIRY, 36 bytes.
bool PassThroughInquiry(Disk& disk, std::span<std::uint8_t, kInquiryLength> buffer);

// Key, ASC and ASCQ of fixed (0x70, 0x71) or descriptor (0x72, 0x73) format sense data; empty
// for anything else or data too short to hold them.
std::optional<SenseCode> DecodeSense(std::span<const std::uint8_t> sense);

// What a CDB asks for, for the protocol trace.
struct DecodedCommand {
  enum class Kind { kRead10, kInquiry, kOther } kind = Kind::kOther;
  std::uint32_t lba = 0;
  std::uint32_t blocks = 0;
};
DecodedCommand DecodeCommand(const ScsiDataIn& command);

}  // namespace raid
