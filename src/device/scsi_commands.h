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
inline constexpr std::uint32_t kRead10TimeoutSeconds = 3000;
inline constexpr std::uint32_t kInquiryTimeoutSeconds = 200;

inline constexpr std::uint8_t kOpRead10 = 0x28;
inline constexpr std::uint8_t kOpInquiry = 0x12;

// READ(10) of `blocks` blocks at `lba` into `buffer` (at least blocks x 512 bytes). Byte 7 of
// the CDB stays 0, so one command moves at most 255 blocks; every caller moves one.
bool PassThroughRead(Disk& disk, std::uint32_t lba, std::uint8_t blocks,
                     std::span<std::uint8_t> buffer);

// Standard INQUIRY, 36 bytes.
bool PassThroughInquiry(Disk& disk, std::span<std::uint8_t, kInquiryLength> buffer);

// What a CDB asks for, for the protocol trace.
struct DecodedCommand {
  enum class Kind { kRead10, kInquiry, kOther } kind = Kind::kOther;
  std::uint32_t lba = 0;
  std::uint32_t blocks = 0;
};
DecodedCommand DecodeCommand(const ScsiDataIn& command);

}  // namespace raid
