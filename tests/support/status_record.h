// SPDX-License-Identifier: GPL-2.0-or-later
// Status records filled in by hand at the program's own offsets, for the tests that read pages,
// log lines and mails from them.
#pragma once

#include <array>
#include <cstdint>

#include "common/bytes.h"
#include "events/event_detector.h"
#include "status/controller_status.h"

namespace raid::testing {

// A member drive as the array-status decoder leaves it in the record. An empty text or a zero
// capacity keeps what the record holds, as the record keeps an absent drive's last details.
struct DriveFields {
  std::uint8_t flag = 0;  // kDrivePresent, kDriveAbsent, ...
  const char* model = "";
  const char* serial = "";
  std::uint64_t sectors = 0;
  std::uint8_t port_state = 0;  // the controller's code for the port, which the log shows
};

inline void SetDrive(ControllerStatus& record, unsigned drive, const DriveFields& fields) {
  namespace L = status_layout;
  std::uint8_t& flags = record.bytes[L::kDriveFlags];
  flags =
      static_cast<std::uint8_t>((flags & ~DriveFlag(0x0F, drive)) | DriveFlag(fields.flag, drive));
  record.bytes[L::kPortState + drive] = fields.port_state;
  if (*fields.model != '\0') {
    WriteSwappedText(record.bytes, L::ModelOffset(drive), L::kModelLength, fields.model);
  }
  if (*fields.serial != '\0') {
    WriteSwappedText(record.bytes, L::SerialOffset(drive), L::kSerialLength, fields.serial);
  }
  if (fields.sectors != 0) {
    WriteLittleEndian(record.bytes, L::CapacityOffset(drive), L::kCapacityLength, fields.sectors);
  }
}

// The status monitor's records, one per drive slot, as the detector and the mailer read them.
class FakeRecords : public StatusRecords {
 public:
  const ControllerStatus& Record(unsigned slot) const override { return records.at(slot); }
  std::array<ControllerStatus, kDriveSlots> records{};
};

}  // namespace raid::testing
