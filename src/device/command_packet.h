// SPDX-License-Identifier: GPL-2.0-or-later
// The controller command packet and its knock list: a packet is spelled out as reads of magic
// block addresses (preamble, 0x100 + header byte, 0x200 + command byte, 0x300 + payload byte,
// 0x400 + check byte).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace raid {

inline constexpr std::size_t kPayloadSize = 128;
inline constexpr std::size_t kShortKnockCount = 16;
inline constexpr std::size_t kLongKnockCount = 144;

// Header direction byte, as the command table gives it per command.
inline constexpr std::uint8_t kDirectionIn = 0x04;
inline constexpr std::uint8_t kDirectionOut = 0x05;

class CommandPacket {
 public:
  static constexpr std::array<std::uint16_t, 4> kPreamble = {0x0043, 0x0071, 0x00A7, 0x00DF};

  // Fills header, command and (when `payload` is not empty) the 128-byte payload, then computes
  // the check and the knock list. A payload of any other size is cut or zero-padded to 128.
  void Fill(std::uint8_t direction, std::uint8_t opcode, std::uint8_t p1, std::uint8_t p2,
            std::uint8_t p3, std::span<const std::uint8_t> payload);

  bool HasPayload() const { return has_payload_; }
  // CRC-32 of preamble, header, command and payload (when present).
  std::uint32_t Check() const { return check_; }
  // The packet bytes as sent: preamble, header, command, [payload], check (MSB first).
  std::span<const std::uint8_t> Bytes() const;
  std::span<const std::uint32_t> KnockList() const;

 private:
  // preamble 8 + header 4 + command 4 + payload 128 + check 4
  std::array<std::uint8_t, 8 + 4 + 4 + kPayloadSize + 4> bytes_{};
  bool has_payload_ = false;
  std::uint32_t check_ = 0;
  std::array<std::uint32_t, kLongKnockCount> knock_list_{};
  std::size_t knock_count_ = 0;
};

}  // namespace raid
