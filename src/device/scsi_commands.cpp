// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/scsi_commands.h"

#include "common/bytes.h"

namespace raid {

bool Delivered(const ScsiOutcome& outcome) {
  return outcome.transported && outcome.status == kScsiStatusGood;
}

bool PassThroughRead(Disk& disk, std::uint32_t lba, std::uint8_t blocks,
                     std::span<std::uint8_t> buffer) {
  const std::size_t length = std::size_t{blocks} * kBlockSize;
  if (blocks == 0 || buffer.size() < length) return false;
  ScsiDataIn command;
  command.cdb = {kOpRead10, 0, 0, 0, 0, 0, 0, 0, blocks, 0};
  WriteBigEndian(command.cdb, 2, 4, lba);
  command.cdb_length = 10;
  command.data = buffer.first(length);
  command.timeout_seconds = kRead10TimeoutSeconds;
  return Delivered(disk.ExecuteDataIn(command));
}

bool PassThroughInquiry(Disk& disk, std::span<std::uint8_t, kInquiryLength> buffer) {
  ScsiDataIn command;
  command.cdb = {kOpInquiry, 0, 0, 0, kInquiryLength, 0, 0, 0, 0, 0};
  command.cdb_length = 10;  // the controller expects the 10-byte length for INQUIRY as well
  command.data = buffer;
  command.timeout_seconds = kInquiryTimeoutSeconds;
  return Delivered(disk.ExecuteDataIn(command));
}

std::optional<SenseCode> DecodeSense(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  const std::uint8_t format = sense[0] & 0x7F;
  if ((format == 0x70 || format == 0x71) && sense.size() >= 14) {
    return SenseCode{static_cast<std::uint8_t>(sense[2] & 0x0F), sense[12], sense[13]};
  }
  if ((format == 0x72 || format == 0x73) && sense.size() >= 4) {
    return SenseCode{static_cast<std::uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
  }
  return std::nullopt;
}

DecodedCommand DecodeCommand(const ScsiDataIn& command) {
  DecodedCommand decoded;
  if (command.cdb[0] == kOpRead10) {
    decoded.kind = DecodedCommand::Kind::kRead10;
    decoded.lba = static_cast<std::uint32_t>(ReadBigEndian(command.cdb, 2, 4));
    decoded.blocks = static_cast<std::uint32_t>(ReadBigEndian(command.cdb, 7, 2));
  } else if (command.cdb[0] == kOpInquiry) {
    decoded.kind = DecodedCommand::Kind::kInquiry;
  }
  return decoded;
}

}  // namespace raid
