// SPDX-License-Identifier: GPL-2.0-or-later
// Word 106 of a member drive's IDENTIFY DEVICE data (physical and logical sector sizes), as the
// SMART reads keep it: the drive's own word, or a code with bit 15 set that says why it could not
// be read. The page answers whether the drive uses 4K physical sectors from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace raid {

inline constexpr std::uint16_t kWord106FourK = 0x6003;   // valid, 8 logical sectors per physical
inline constexpr std::uint16_t kWord106Failed = 0x8000;  // the bit every failure code has

inline constexpr std::uint16_t kWord106DriveAbsent = 0xFFFF;
inline constexpr std::uint16_t kWord106NotDelivered = 0xFFF7;  // the IDENTIFY command failed
inline constexpr std::uint16_t kWord106PartMissing = 0xFFFE;   // its part 2 could not be fetched

// The code for an answer that echoes another command than the one sent: the two echo bytes as
// high and low byte. Bit 15 is always set, so that an echo of 00 00 (no command at all) reads
// "Unknown" like every other failure instead of passing for a drive's word that says "No".
constexpr std::uint16_t WrongEchoCode(std::uint8_t opcode_echo, std::uint8_t argument_echo) {
  return static_cast<std::uint16_t>((opcode_echo << 8) | argument_echo | kWord106Failed);
}

struct FourKSectorLabel {
  std::string_view answer;  // "Yes", "No" or "Unknown"
  std::string text;         // " 4K Sector supported : Yes "
  std::string hint;         // "WORD[106]=0x6003" or, for a failure code, "Code=0xFFFF"
  bool operator==(const FourKSectorLabel&) const = default;
};

FourKSectorLabel FourKSectorAnswer(std::uint16_t word106);

}  // namespace raid
