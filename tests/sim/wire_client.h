// SPDX-License-Identifier: GPL-2.0-or-later
// The host's side of the wire, spelled out by hand for the simulator's tests: READ(10) and
// INQUIRY CDBs, and knock sequences with their CRC. Deliberately independent of the program's
// transport, so that these tests check the simulator alone.
#pragma once

#include <zlib.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/disk_system.h"

namespace raid::sim::testing {

using Block = std::array<std::uint8_t, 512>;

inline ScsiDataIn Read10Cdb(std::uint32_t lba, std::uint16_t blocks, std::span<std::uint8_t> out) {
  ScsiDataIn command;
  command.cdb = {0x28,
                 0,
                 static_cast<std::uint8_t>(lba >> 24),
                 static_cast<std::uint8_t>(lba >> 16),
                 static_cast<std::uint8_t>(lba >> 8),
                 static_cast<std::uint8_t>(lba),
                 0,
                 static_cast<std::uint8_t>(blocks >> 8),
                 static_cast<std::uint8_t>(blocks),
                 0};
  command.data = out;
  return command;
}

// The standard 36-byte INQUIRY, sent with the 10-byte CDB length the bridge expects.
inline ScsiDataIn InquiryCdb(std::span<std::uint8_t> out) {
  ScsiDataIn command;
  command.cdb = {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0};
  command.data = out;
  return command;
}

// The host delivered the data: carried, and GOOD status.
inline bool Good(const ScsiOutcome& outcome) {
  return outcome.transported && outcome.status == kScsiStatusGood;
}

inline bool ReadBlock(Disk& disk, std::uint32_t lba, Block& out) {
  return Good(disk.ExecuteDataIn(Read10Cdb(lba, 1, out)));
}

inline Block ReadBlockOrFail(Disk& disk, std::uint32_t lba) {
  Block block{};
  ReadBlock(disk, lba, block);
  return block;
}

struct Packet {
  std::uint8_t direction = 4;
  std::uint8_t opcode = 0;
  std::uint8_t p1 = 0;
  std::uint8_t p2 = 0;
  std::uint8_t p3 = 0;
  std::vector<std::uint8_t> payload;  // empty or 128 bytes
};

inline Packet Query(std::uint8_t code) {
  return {4, code, 0xCF, 0xDF, 0xEF, {}};
}

// The knock addresses of `packet`, without separators; `check_delta` spoils the CRC.
inline std::vector<std::uint32_t> KnockAddresses(const Packet& packet,
                                                 std::uint32_t check_delta = 0) {
  std::vector<std::uint8_t> bytes = {0x43, 0x00, 0x71, 0x00, 0xA7, 0x00, 0xDF, 0x00};
  const bool long_form = !packet.payload.empty();
  const std::vector<std::uint8_t> header = {static_cast<std::uint8_t>(long_form ? 1 : 0),
                                            packet.direction, 0xEF, 0xFF};
  const std::vector<std::uint8_t> command = {packet.opcode, packet.p1, packet.p2, packet.p3};
  bytes.insert(bytes.end(), header.begin(), header.end());
  bytes.insert(bytes.end(), command.begin(), command.end());
  bytes.insert(bytes.end(), packet.payload.begin(), packet.payload.end());
  const std::uint32_t check =
      static_cast<std::uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size()))) +
      check_delta;

  std::vector<std::uint32_t> knocks = {0x43, 0x71, 0xA7, 0xDF};
  for (std::uint8_t b : header)
    knocks.push_back(0x100U + b);
  for (std::uint8_t b : command)
    knocks.push_back(0x200U + b);
  for (std::uint8_t b : packet.payload)
    knocks.push_back(0x300U + b);
  for (int shift = 24; shift >= 0; shift -= 8)
    knocks.push_back(0x400U + ((check >> shift) & 0xFF));
  return knocks;
}

// A separator read before every address equal to the one before it.
inline std::vector<std::uint32_t> WithSeparators(const std::vector<std::uint32_t>& knocks) {
  std::vector<std::uint32_t> out;
  std::uint32_t previous = 0;
  for (std::uint32_t lba : knocks) {
    if (lba == previous) out.push_back(0x5FFF);
    out.push_back(lba);
    previous = lba;
  }
  return out;
}

inline bool ReadAll(Disk& disk, const std::vector<std::uint32_t>& lbas) {
  Block scratch{};
  for (std::uint32_t lba : lbas) {
    if (!ReadBlock(disk, lba, scratch)) return false;
  }
  return true;
}

// Knocks `packet` and reads the answer block once (after a separator).
inline Block Exchange(Disk& disk, const Packet& packet) {
  ReadAll(disk, WithSeparators(KnockAddresses(packet)));
  Block scratch{};
  ReadBlock(disk, 0x5FFF, scratch);
  return ReadBlockOrFail(disk, 17);
}

inline std::string TextAt(const Block& block, std::size_t offset, std::size_t length) {
  return std::string(block.begin() + offset, block.begin() + offset + length);
}

// Text of a byte-pair-swapped field.
inline std::string SwappedTextAt(const Block& block, std::size_t offset, std::size_t length) {
  std::string text(length, ' ');
  for (std::size_t i = 0; i < length; ++i)
    text[i] = static_cast<char>(block[offset + (i ^ 1)]);
  return text;
}

inline std::uint64_t BigEndianAt(const Block& block, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value = (value << 8) | block[offset + i];
  return value;
}

inline std::uint64_t LittleEndianAt(const Block& block, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i)
    value = (value << 8) | block[offset + i - 1];
  return value;
}

inline bool IsRaidAnswer(const Block& block) {
  return TextAt(block, 0, 16) == "__TORVANE6182A__" && TextAt(block, 496, 16) == "__SATA6GRAID01__";
}

}  // namespace raid::sim::testing
