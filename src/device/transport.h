// SPDX-License-Identifier: GPL-2.0-or-later
// The controller command protocol over one-block reads: a knock sequence spells out the packet,
// then block 17 is polled until it carries a controller signature and a status byte.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "common/clock.h"
#include "device/command_packet.h"
#include "device/disk_system.h"
#include "device/result_code.h"

namespace raid {

inline constexpr std::uint32_t kResponseBlock = 17;
inline constexpr std::uint32_t kSeparatorBlock = 0x5FFF;
inline constexpr std::size_t kResponseStatusOffset = 48;
inline constexpr std::uint32_t kPollPauseMs = 10;

enum class ControllerKind : std::uint8_t { kRaidBridge = 0, kPortMultiplier = 1 };

using ResponseSector = std::array<std::uint8_t, 512>;

// The signature pair an answer carries, or none.
std::optional<ControllerKind> MatchSignature(std::span<const std::uint8_t, 512> sector);

class Transport {
 public:
  explicit Transport(Clock& clock) : clock_(clock) {}

  // Reads the knock list of the current packet: kResultDone or kResultKnockFailed.
  ResultCode SendKnockSequence(Disk& disk);
  // Polls block 17 until a signed answer arrives. A limit of 10 or more is milliseconds (the
  // loop runs until the whole seconds elapsed exceed the whole seconds of the limit); below 10
  // it is a number of tries (the loop ends when the tries exceed it).
  ResultCode AwaitResponse(Disk& disk, std::uint32_t limit);
  // Fills the packet, knocks and awaits the answer; the answer stays in Response().
  ResultCode SendVendorCommand(Disk& disk, std::uint8_t direction, std::uint8_t opcode,
                               std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
                               std::span<const std::uint8_t> payload, std::uint32_t limit);

  // The last sector read from the response block (valid right after AwaitResponse).
  const ResponseSector& Response() const { return response_; }
  // The mapped status byte of the last answer, or kResultNoAnswer.
  std::uint8_t Status() const { return status_; }
  // The signature pair of the last exchange's answer; empty when it got none.
  std::optional<ControllerKind> AnsweredKind() const { return answered_kind_; }
  const CommandPacket& Packet() const { return packet_; }
  // Whether the last SendVendorCommand got as far as polling the response block.
  bool ResponsePolled() const { return response_polled_; }

 private:
  Clock& clock_;
  CommandPacket packet_;
  ResponseSector response_{};
  std::uint8_t status_ = 0;
  std::optional<ControllerKind> answered_kind_;
  bool response_polled_ = false;
};

}  // namespace raid
