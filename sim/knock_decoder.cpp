// SPDX-License-Identifier: GPL-2.0-or-later
#include "knock_decoder.h"

#include <zlib.h>

#include <cstdio>
#include <utility>

#include "wire_bytes.h"

namespace raid::sim {
namespace {

constexpr std::array<std::uint32_t, 4> kPreamble = {0x43, 0x71, 0xA7, 0xDF};
constexpr std::uint32_t kHeaderBase = 0x100;
constexpr std::uint32_t kCommandBase = 0x200;
constexpr std::uint32_t kPayloadBase = 0x300;
constexpr std::uint32_t kCheckBase = 0x400;

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

// The byte a knock read carries, when the address lies in the window of `base`.
std::optional<std::uint8_t> KnockByte(std::uint32_t lba, std::uint32_t base) {
  if (lba < base || lba > base + 0xFF) return std::nullopt;
  return static_cast<std::uint8_t>(lba - base);
}

}  // namespace

void KnockDecoder::Reset() {
  phase_ = Phase::kIdle;
  preamble_matched_ = 0;
  index_ = 0;
  packet_ = DecodedPacket{};
}

KnockDecoder::Step KnockDecoder::Observe(std::uint32_t lba) {
  Step step;
  if (lba == kSeparatorLba) {
    last_lba_ = lba;
    return step;
  }
  if (last_lba_ == lba) return step;  // a re-read: the address did not change
  last_lba_ = lba;

  // A client whose read failed half way through a packet gives it up and starts its next
  // exchange with the preamble. No knock byte lies below 0x100, so the preamble's first address
  // can only mean that: the half-read packet is dropped without complaint.
  if (phase_ != Phase::kIdle && lba == kPreamble[0]) {
    Reset();
    ObserveIdle(lba, step);
    return step;
  }

  switch (phase_) {
    case Phase::kIdle:
      ObserveIdle(lba, step);
      break;
    case Phase::kHeader: {
      const auto byte = KnockByte(lba, kHeaderBase);
      if (!byte) return Fail(step, "expected a header read (0x100-0x1FF)", lba);
      packet_.header[index_++] = *byte;
      if (index_ == 4) {
        if (packet_.header[0] > 1) {
          return Fail(step, "header payload flag " + Hex(packet_.header[0]) + " is not 0 or 1",
                      lba);
        }
        if (packet_.header[2] != 0xEF || packet_.header[3] != 0xFF) {
          return Fail(step, "header bytes 2-3 are not EF FF", lba);
        }
        packet_.has_payload = packet_.header[0] == 1;
        phase_ = Phase::kCommand;
        index_ = 0;
      }
      break;
    }
    case Phase::kCommand: {
      const auto byte = KnockByte(lba, kCommandBase);
      if (!byte) return Fail(step, "expected a command read (0x200-0x2FF)", lba);
      const std::uint8_t b = *byte;
      switch (index_++) {
        case 0:
          packet_.opcode = b;
          break;
        case 1:
          packet_.p1 = b;
          break;
        case 2:
          packet_.p2 = b;
          break;
        default:
          packet_.p3 = b;
          break;
      }
      if (index_ == 4) {
        phase_ = packet_.has_payload ? Phase::kPayload : Phase::kCheck;
        index_ = 0;
      }
      break;
    }
    case Phase::kPayload: {
      const auto byte = KnockByte(lba, kPayloadBase);
      if (!byte) return Fail(step, "expected a payload read (0x300-0x3FF)", lba);
      packet_.payload[index_++] = *byte;
      if (index_ == kPacketPayloadSize) {
        phase_ = Phase::kCheck;
        index_ = 0;
      }
      break;
    }
    case Phase::kCheck: {
      const auto byte = KnockByte(lba, kCheckBase);
      if (!byte) return Fail(step, "expected a check read (0x400-0x4FF)", lba);
      check_bytes_[index_++] = *byte;
      if (index_ == 4) {
        const auto received = static_cast<std::uint32_t>(wire::GetBigEndian(check_bytes_, 0, 4));
        const std::uint32_t expected = ComputeCheck();
        DecodedPacket packet = packet_;
        packet.check = received;
        Reset();
        if (received != expected) {
          step.error = "wrong check " + Hex(received) + " (the packet's CRC-32 is " +
                       Hex(expected) + "); no answer";
        } else {
          step.packet = packet;
        }
      }
      break;
    }
  }
  return step;
}

void KnockDecoder::ObserveIdle(std::uint32_t lba, Step& step) {
  if (lba == kPreamble[preamble_matched_]) {
    if (++preamble_matched_ == kPreamble.size()) {
      preamble_matched_ = 0;
      phase_ = Phase::kHeader;
      index_ = 0;
      packet_ = DecodedPacket{};
      step.packet_started = true;
    }
    return;
  }
  // Outside a packet any other read is ordinary disk access.
  preamble_matched_ = lba == kPreamble[0] ? 1 : 0;
}

KnockDecoder::Step& KnockDecoder::Fail(Step& step, std::string text, std::uint32_t lba) {
  step.error = text + ", got a read of " + Hex(lba);
  Reset();
  // The offending read may itself begin the next packet.
  ObserveIdle(lba, step);
  return step;
}

std::uint32_t KnockDecoder::ComputeCheck() const {
  std::array<std::uint8_t, 8 + 4 + 4 + kPacketPayloadSize> bytes{};
  for (std::size_t i = 0; i < kPreamble.size(); ++i) {
    wire::PutLittleEndian(bytes, i * 2, 2, kPreamble[i]);
  }
  std::size_t n = 8;
  for (std::uint8_t b : packet_.header)
    bytes[n++] = b;
  bytes[n++] = packet_.opcode;
  bytes[n++] = packet_.p1;
  bytes[n++] = packet_.p2;
  bytes[n++] = packet_.p3;
  if (packet_.has_payload) {
    for (std::uint8_t b : packet_.payload)
      bytes[n++] = b;
  }
  return static_cast<std::uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(n)));
}

}  // namespace raid::sim
