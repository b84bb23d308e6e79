// SPDX-License-Identifier: GPL-2.0-or-later
// The controller's reading of the command channel: it watches the addresses of the reads it
// receives and assembles a packet from the knock sequence (preamble, header, command, payload,
// check). It sees only changes of address: a separator read (0x5FFF) is skipped, and a repeated
// address without a separator in between is a re-read, not a second byte. A read of the first
// preamble address in the middle of a packet abandons that packet and starts a new one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace raid::sim {

inline constexpr std::uint32_t kSeparatorLba = 0x5FFF;
inline constexpr std::uint32_t kAnswerLba = 17;
inline constexpr std::size_t kPacketPayloadSize = 128;

struct DecodedPacket {
  std::array<std::uint8_t, 4> header{};  // payload flag, direction, 0xEF, 0xFF
  std::uint8_t opcode = 0;
  std::uint8_t p1 = 0;
  std::uint8_t p2 = 0;
  std::uint8_t p3 = 0;
  bool has_payload = false;
  std::array<std::uint8_t, kPacketPayloadSize> payload{};
  std::uint32_t check = 0;

  std::uint8_t direction() const { return header[1]; }
};

class KnockDecoder {
 public:
  struct Step {
    bool packet_started = false;          // the preamble was just completed
    std::optional<DecodedPacket> packet;  // a complete packet with a correct check
    std::optional<std::string> error;     // a malformed sequence or a wrong check
  };

  // One read as the controller sees it.
  Step Observe(std::uint32_t lba);
  void Reset();

 private:
  enum class Phase { kIdle, kHeader, kCommand, kPayload, kCheck };

  void ObserveIdle(std::uint32_t lba, Step& step);
  Step& Fail(Step& step, std::string text, std::uint32_t lba);
  std::uint32_t ComputeCheck() const;

  std::optional<std::uint32_t> last_lba_;
  Phase phase_ = Phase::kIdle;
  std::size_t preamble_matched_ = 0;
  std::size_t index_ = 0;
  DecodedPacket packet_;
  std::array<std::uint8_t, 4> check_bytes_{};
};

}  // namespace raid::sim
