// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/transport.h"

#include <algorithm>
#include <string_view>

#include "device/scsi_commands.h"

namespace raid {
namespace {

constexpr std::size_t kSignatureLength = 16;
constexpr std::size_t kSecondSignatureOffset = 496;

struct SignaturePair {
  std::string_view first;
  std::string_view second;
  ControllerKind kind;
};

constexpr std::array<SignaturePair, 2> kSignatures = {{
    {"__TORVANE6182A__", "__SATA6GRAID01__", ControllerKind::kRaidBridge},
    {"__KELDRIX2109A__", "_PORTMULTIPLIER_", ControllerKind::kPortMultiplier},
}};

bool Matches(std::span<const std::uint8_t, 512> sector, std::size_t offset, std::string_view text) {
  return std::equal(text.begin(), text.end(), sector.begin() + static_cast<std::ptrdiff_t>(offset),
                    [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

}  // namespace

std::optional<ControllerKind> MatchSignature(std::span<const std::uint8_t, 512> sector) {
  static_assert(kSignatures[0].first.size() == kSignatureLength);
  for (const SignaturePair& pair : kSignatures) {
    if (Matches(sector, 0, pair.first) && Matches(sector, kSecondSignatureOffset, pair.second)) {
      return pair.kind;
    }
  }
  return std::nullopt;
}

ResultCode Transport::SendKnockSequence(Disk& disk) {
  std::uint32_t previous = 0;
  for (std::uint32_t address : packet_.KnockList()) {
    clock_.ProcessMessages();
    // The controller only sees a change of address; a repeated one needs a read in between.
    if (address == previous && !PassThroughRead(disk, kSeparatorBlock, 1, response_)) {
      return kResultKnockFailed;
    }
    if (!PassThroughRead(disk, address, 1, response_)) return kResultKnockFailed;
    previous = address;
  }
  return kResultDone;
}

ResultCode Transport::AwaitResponse(Disk& disk, std::uint32_t limit) {
  const std::uint64_t start_ms = clock_.NowMs();
  answered_kind_.reset();
  std::uint32_t tries = 0;
  for (;;) {
    clock_.ProcessMessages();
    PassThroughRead(disk, kSeparatorBlock, 1, response_);  // only moves the controller on
    if (!PassThroughRead(disk, kResponseBlock, 1, response_)) return kResultResponseReadFailed;
    ++tries;
    const std::optional<ControllerKind> kind = MatchSignature(response_);
    clock_.SleepMs(kPollPauseMs);
    if (kind) {
      answered_kind_ = *kind;
      status_ = MapControllerStatus(response_[kResponseStatusOffset]);
      return kResultDone;
    }
    const bool expired =
        limit >= 10 ? clock_.NowMs() / 1000 - start_ms / 1000 > limit / 1000 : tries > limit;
    if (expired) break;
  }
  status_ = kResultNoAnswer;
  return kResultNoAnswer;
}

ResultCode Transport::SendVendorCommand(Disk& disk, std::uint8_t direction, std::uint8_t opcode,
                                        std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
                                        std::span<const std::uint8_t> payload,
                                        std::uint32_t limit) {
  packet_.Fill(direction, opcode, p1, p2, p3, payload);
  response_polled_ = false;
  answered_kind_.reset();
  if (const ResultCode knock = SendKnockSequence(disk); knock != kResultDone) return knock;
  response_polled_ = true;
  if (const ResultCode wait = AwaitResponse(disk, limit); wait != kResultDone) return wait;
  return status_ == 0x20 ? kResultDone : status_;
}

}  // namespace raid
