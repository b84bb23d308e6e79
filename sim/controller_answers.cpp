// SPDX-License-Identifier: GPL-2.0-or-later
// What the controller does with a packet and what it answers in block 17.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "sim_enclosure.h"
#include "wire_bytes.h"

namespace raid::sim {
namespace {

constexpr std::uint8_t kOpAlive = 0x10;
constexpr std::uint8_t kOpControllerInfo = 0x11;
constexpr std::uint8_t kOpRebuildProgress = 0x15;
constexpr std::uint8_t kOpArrayStatus = 0x17;
constexpr std::uint8_t kOpFlashRead = 0x20;
constexpr std::uint8_t kOpFlashErase = 0x23;
constexpr std::uint8_t kOpFlashProgram = 0x25;
constexpr std::uint8_t kOpDriveCommand = 0xB1;
constexpr std::uint8_t kOpDriveResult = 0xB2;

constexpr std::uint8_t kDirectionIn = 4;
constexpr std::uint8_t kDirectionOut = 5;

constexpr std::uint8_t kAtaIdentify = 0xEC;
constexpr std::uint8_t kAtaSmart = 0xB0;
constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReadThresholds = 0xD1;

constexpr std::size_t kStatusOffset = 48;
constexpr std::size_t kSecondSignatureOffset = 496;
constexpr std::size_t kEchoOffset = 76;
constexpr std::size_t kDataOffset = 80;
constexpr std::size_t kDataLength = 128;
constexpr std::size_t kPortBlockOffsets[2] = {84, 160};

constexpr std::string_view kRaidSignature1 = "__TORVANE6182A__";
constexpr std::string_view kRaidSignature2 = "__SATA6GRAID01__";
constexpr std::string_view kPmSignature1 = "__KELDRIX2109A__";
constexpr std::string_view kPmSignature2 = "_PORTMULTIPLIER_";

// The header a known command goes with: its direction byte and whether a payload follows.
struct CommandForm {
  std::uint8_t direction = 0;
  bool payload = false;
};

std::optional<CommandForm> FormOf(std::uint8_t opcode) {
  switch (opcode) {
    case kOpAlive:
    case kOpControllerInfo:
    case kOpRebuildProgress:
    case kOpArrayStatus:
    case kOpFlashRead:
    case kOpDriveResult:
      return CommandForm{kDirectionIn, false};
    case kOpFlashErase:
      return CommandForm{kDirectionOut, false};
    case kOpFlashProgram:
    case kOpDriveCommand:
      return CommandForm{kDirectionOut, true};
    default:
      return std::nullopt;
  }
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFU);
  return text;
}

// Why the packet's header does not fit its command; empty when it does.
std::optional<std::string> HeaderMismatch(const DecodedPacket& packet) {
  const std::optional<CommandForm> form = FormOf(packet.opcode);
  if (!form) return std::nullopt;  // unknown commands get status 0x21 and nothing else
  std::string problem;
  if (packet.direction() != form->direction) {
    problem = "direction " + std::to_string(packet.direction()) + " (the command goes with " +
              std::to_string(form->direction) + ")";
  }
  if (packet.has_payload != form->payload) {
    if (!problem.empty()) problem += " and ";
    problem += std::string("payload flag ") + (packet.has_payload ? "1" : "0") +
               " (the command goes with " + (form->payload ? "1" : "0") + ")";
  }
  if (problem.empty()) return std::nullopt;
  return "packet " + Hex2(packet.opcode) + " sent with header " + problem + "; no answer";
}

void PutText(Sector& out, std::size_t offset, std::string_view text) {
  std::copy(text.begin(), text.end(), out.begin() + offset);
}

bool IsQueryArguments(const DecodedPacket& p) {
  return p.p1 == 0xCF && p.p2 == 0xDF && p.p3 == 0xEF;
}

// The 20-byte host-to-device register frame, followed by zeros.
bool IsAtaFrame(const DecodedPacket& p) {
  static constexpr std::array<std::uint8_t, 20> kFrame = {
      0x27, 0x80, 0x00, 0x00, 0x01, 0x4F, 0xC2, 0xE0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < p.payload.size(); ++i) {
    if (i == 2 || i == 3) continue;  // command and features
    const std::uint8_t expected = i < kFrame.size() ? kFrame[i] : 0;
    if (p.payload[i] != expected) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> SimEnclosure::Execute(const DecodedPacket& packet) {
  if (std::optional<std::string> mismatch = HeaderMismatch(packet)) return mismatch;
  if (faults_.never_answer) return std::nullopt;
  Answer answer;
  std::uint8_t status = kStatusUnknownCommand;
  switch (packet.opcode) {
    case kOpAlive:
      status = IsQueryArguments(packet) ? kStatusDone : kStatusFailed;
      break;
    case kOpControllerInfo:
      status = IsQueryArguments(packet) ? AnswerControllerInfo(answer.sector) : kStatusFailed;
      break;
    case kOpRebuildProgress:
      status = IsQueryArguments(packet) ? AnswerRebuildProgress(answer.sector) : kStatusFailed;
      break;
    case kOpArrayStatus:
      status = IsQueryArguments(packet) ? AnswerArrayStatus(answer.sector) : kStatusFailed;
      break;
    case kOpFlashRead:
    case kOpFlashErase:
    case kOpFlashProgram:
      status = AnswerFlash(packet, answer.sector);
      break;
    case kOpDriveCommand:
    case kOpDriveResult:
      status = AnswerDrive(packet, answer.sector);
      break;
    default:
      break;
  }
  Sign(answer.sector, status);
  answer.ready_ms = clock_.NowMs() + spec_.answer_delay_ms + faults_.extra_delay_ms;
  answer_ = answer;
  return std::nullopt;
}

void SimEnclosure::Sign(Sector& sector, std::uint8_t status) {
  const bool raid = spec_.kind == BridgeKind::kRaid;
  PutText(sector, 0, raid ? kRaidSignature1 : kPmSignature1);
  PutText(sector, kSecondSignatureOffset, raid ? kRaidSignature2 : kPmSignature2);
  if (faults_.wrong_second_signature) sector[kSecondSignatureOffset + 13] ^= 0x01;
  if (faults_.forced_count > 0) {
    --faults_.forced_count;
    status = faults_.forced_status;
  }
  sector[kStatusOffset] = status;
}

std::uint8_t SimEnclosure::AnswerControllerInfo(Sector& out) const {
  std::copy(spec_.revision.begin(), spec_.revision.end(), out.begin() + 88);
  if (spec_.sensors) {
    out[124] = 0;
    out[125] = 0;
    out[127] = spec_.temperature;
    wire::PutBigEndian(out, 128, 2, spec_.fan_rpm);
  } else {
    out[124] = 0xFF;
    out[125] = 0xFF;
  }
  // No model text leaves the field zero, so the host takes the model from INQUIRY.
  if (!spec_.model_text.empty()) wire::PutSwappedText(out, 160, 40, spec_.model_text);
  wire::PutLittleEndian(out, 200, 6, array_capacity_);
  return kStatusDone;
}

std::uint8_t SimEnclosure::AnswerRebuildProgress(Sector& out) const {
  const std::uint64_t total = array_capacity_;
  std::uint64_t current = 0;
  if (rebuild_) {
    out[84] = 2;
    const std::uint64_t duration = std::max<std::uint64_t>(rebuild_->duration_ms, 1);
    const std::uint64_t elapsed = std::min(RebuildElapsedLocked(), duration);
    // total x elapsed / duration, split so that no product overflows 64 bits.
    current = total / duration * elapsed + total % duration * elapsed / duration;
  }
  wire::PutBigEndian(out, 94, 6, total);
  wire::PutBigEndian(out, 119, 5, current);
  return kStatusDone;
}

std::uint8_t SimEnclosure::AnswerArrayStatus(Sector& out) const {
  out[80] = spec_.raw_mode;
  for (unsigned channel = 0; channel < 2; ++channel) {
    const Bay& bay = bays_[BayOfChannel(channel)];
    const std::size_t block = kPortBlockOffsets[channel];
    out[block] = bay.state;
    if (!ReportsPresent(bay)) continue;  // an absent port carries its state only
    const MemberSpec& member = bay.member->config();
    wire::PutSwappedText(out, block + 4, 40, member.model);
    wire::PutSwappedText(out, block + 44, 20, member.serial);
    wire::PutBigEndian(out, block + 70, 6, member.capacity);
  }
  return kStatusDone;
}

std::uint8_t SimEnclosure::AnswerFlash(const DecodedPacket& packet, Sector& out) {
  if (packet.p1 != 1) return kStatusFailed;
  const std::uint32_t block = (std::uint32_t{packet.p2} << 8) | packet.p3;
  const std::uint32_t address = block * kFlashBlockSize;
  if (FlashFaultFires(block)) return kStatusFailed;
  switch (packet.opcode) {
    case kOpFlashRead:
      flash_.ReadBlock(address, std::span<std::uint8_t>(out).subspan(kDataOffset, kDataLength));
      return kStatusDone;
    case kOpFlashErase:
      flash_.EraseSector(address);
      return kStatusDone;
    default:
      if (!faults_.lying_flash_writes) flash_.ProgramBlock(address, packet.payload);
      return kStatusDone;
  }
}

std::optional<FaultSpec::DriveCommandFault> SimEnclosure::DriveFaultFires(
    const DecodedPacket& packet) {
  auto& faults = faults_.drive_command_faults;
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    const bool matches =
        it->opcode == packet.opcode && (it->feature == 0 || it->feature == packet.p1) &&
        (packet.opcode != kOpDriveResult || it->part == 0 || it->part == packet.p3);
    if (!matches || it->times == 0) continue;
    const FaultSpec::DriveCommandFault fired = *it;
    if (--it->times == 0) faults.erase(it);
    return fired;
  }
  return std::nullopt;
}

// Both drive commands echo their opcode and first argument at 76-77.
std::uint8_t SimEnclosure::AnswerDrive(const DecodedPacket& packet, Sector& out) {
  out[kEchoOffset] = packet.opcode;
  out[kEchoOffset + 1] = packet.p1;
  const std::optional<FaultSpec::DriveCommandFault> fault = DriveFaultFires(packet);
  if (fault && !fault->echo) {
    if (packet.opcode == kOpDriveCommand) drive_result_.reset();  // a failed command keeps nothing
    return kStatusFailed;
  }
  const std::uint8_t status = packet.opcode == kOpDriveCommand ? AnswerDriveCommand(packet)
                                                               : AnswerDriveResultPart(packet, out);
  if (fault) std::copy(fault->echo->begin(), fault->echo->end(), out.begin() + kEchoOffset);
  return status;
}

std::uint8_t SimEnclosure::AnswerDriveCommand(const DecodedPacket& packet) {
  drive_result_.reset();
  if (!IsAtaFrame(packet) || packet.p2 > 1) return kStatusFailed;
  const Bay& bay = bays_[BayOfChannel(packet.p2)];
  if (!ReportsPresent(bay)) return kStatusFailed;
  const std::uint8_t command = packet.payload[2];
  const std::uint8_t features = packet.payload[3];
  if (command == kAtaIdentify && features == 0) {
    drive_result_ = bay.member->IdentifyData();
  } else if (command == kAtaSmart && features == kSmartReadData) {
    drive_result_ = bay.member->SmartData();
  } else if (command == kAtaSmart && features == kSmartReadThresholds) {
    drive_result_ = bay.member->SmartThresholds();
  } else {
    return kStatusFailed;
  }
  return kStatusDone;
}

std::uint8_t SimEnclosure::AnswerDriveResultPart(const DecodedPacket& packet, Sector& out) const {
  const unsigned part = packet.p3;
  if (!drive_result_ || part < 1 || part > 4) return kStatusFailed;
  const auto from = drive_result_->begin() + (part - 1) * kDataLength;
  std::copy(from, from + kDataLength, out.begin() + kDataOffset);
  return kStatusDone;
}

}  // namespace raid::sim
