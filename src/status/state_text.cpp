// SPDX-License-Identifier: GPL-2.0-or-later
#include "status/state_text.h"

namespace raid {

std::string StateText(const ControllerStatus& record, bool scan_capable_firmware) {
  const std::uint8_t activity = record.Activity();
  if (activity & kRebuildActivity) {
    const std::string percent = std::to_string(record.Progress());
    const bool hdd1 = (activity & kRebuildingHdd1) != 0;
    if (scan_capable_firmware && (activity & kScanOrSsdTooSmall)) {
      return percent + (hdd1 ? "%\nHDD1 Scan" : "%\nHDD2 Scan");
    }
    return percent + (hdd1 ? "%\n<<<<\nRebuilding" : "%\n>>>>\nRebuilding");
  }
  const std::uint8_t present = record.DriveFlags() & kBothPresent;
  if (present == kBothPresent) return "Normal";
  if (present != 0) return "Single HDD\nPresent";
  return "Failure";
}

}  // namespace raid
