// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/command_packet.h"

#include <zlib.h>

#include <algorithm>

#include "common/bytes.h"

namespace raid {
namespace {

constexpr std::size_t kHeaderOffset = 8;
constexpr std::size_t kCommandOffset = 12;
constexpr std::size_t kPayloadOffset = 16;
constexpr std::uint8_t kHeaderMagic0 = 0xEF;
constexpr std::uint8_t kHeaderMagic1 = 0xFF;

}  // namespace

void CommandPacket::Fill(std::uint8_t direction, std::uint8_t opcode, std::uint8_t p1,
                         std::uint8_t p2, std::uint8_t p3, std::span<const std::uint8_t> payload) {
  bytes_.fill(0);
  for (std::size_t i = 0; i < kPreamble.size(); ++i) {
    WriteLittleEndian(bytes_, i * 2, 2, kPreamble[i]);
  }
  has_payload_ = !payload.empty();
  bytes_[kHeaderOffset + 0] = has_payload_ ? 1 : 0;
  bytes_[kHeaderOffset + 1] = direction;
  bytes_[kHeaderOffset + 2] = kHeaderMagic0;
  bytes_[kHeaderOffset + 3] = kHeaderMagic1;
  bytes_[kCommandOffset + 0] = opcode;
  bytes_[kCommandOffset + 1] = p1;
  bytes_[kCommandOffset + 2] = p2;
  bytes_[kCommandOffset + 3] = p3;
  if (has_payload_) {
    std::copy_n(payload.begin(), std::min(payload.size(), kPayloadSize),
                bytes_.begin() + kPayloadOffset);
  }

  const std::size_t covered = kPayloadOffset + (has_payload_ ? kPayloadSize : 0);
  check_ = static_cast<std::uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), bytes_.data(), static_cast<uInt>(covered)));
  WriteBigEndian(bytes_, covered, 4, check_);

  std::size_t k = 0;
  for (std::uint16_t word : kPreamble)
    knock_list_[k++] = word;
  for (std::size_t i = 0; i < 4; ++i)
    knock_list_[k++] = 0x100U + bytes_[kHeaderOffset + i];
  for (std::size_t i = 0; i < 4; ++i)
    knock_list_[k++] = 0x200U + bytes_[kCommandOffset + i];
  if (has_payload_) {
    for (std::size_t i = 0; i < kPayloadSize; ++i) {
      knock_list_[k++] = 0x300U + bytes_[kPayloadOffset + i];
    }
  }
  for (std::size_t i = 0; i < 4; ++i)
    knock_list_[k++] = 0x400U + bytes_[covered + i];
  knock_count_ = k;
}

std::span<const std::uint8_t> CommandPacket::Bytes() const {
  const std::size_t covered = kPayloadOffset + (has_payload_ ? kPayloadSize : 0);
  return std::span<const std::uint8_t>(bytes_).first(covered + 4);
}

std::span<const std::uint32_t> CommandPacket::KnockList() const {
  return std::span<const std::uint32_t>(knock_list_).first(knock_count_);
}

}  // namespace raid
