// SPDX-License-Identifier: GPL-2.0-or-later
#include "status/device_information.h"

#include "common/bytes.h"
#include "common/text_helpers.h"

namespace raid {
namespace {

void AddDetails(std::vector<std::string>& lines, const std::string& model_prefix,
                const ControllerStatus& record, unsigned drive) {
  lines.push_back(model_prefix + record.DriveModel(drive));
  lines.push_back(SerialLineText("    Serial no.: ", record, drive));
  lines.push_back("    Capacity : " + CapacityWithSectors(record.DriveCapacity(drive)));
}

void AddDrive(std::vector<std::string>& lines, const ControllerStatus& record, unsigned drive) {
  const std::string name = drive == 0 ? "HDD1" : "HDD2";
  const std::string code = PortCodeText(record, drive);
  const std::uint8_t activity = record.Activity();
  // Only HDD2's absent line has the blank after the colon; both are kept as users know them.
  const std::string absent_model_prefix = drive == 0 ? "    Model no.:" : "    Model no.: ";
  const std::uint8_t state = record.DriveState(drive);
  if (state == kDriveAbsent) {
    lines.push_back("  " + name + " is absent. " + code);
    if (!record.DriveSerial(drive).empty()) AddDetails(lines, absent_model_prefix, record, drive);
  } else if (state == kDrivePresent) {
    lines.push_back("  " + name + " is present.(SATA" + LinkSpeedName(record.LinkSpeed(drive)) +
                    ")" + code);
    AddDetails(lines, "    Model no.: ", record, drive);
  } else if (state == kDriveFailed) {
    std::string reason;
    if (activity & kMatchedSsd) {
      reason = " was failed, Matched SSD, Reboot.";
    } else if (activity & kScanOrSsdTooSmall) {
      reason = " was failed, Capacity too small.";
    } else {
      reason = " was failed, Unmatched SSD.";
    }
    lines.push_back("  " + name + reason + code);
    AddDetails(lines, "    Model no.: ", record, drive);
  } else if (state == kDriveInserted) {
    lines.push_back(name + " was inserted." + code);
  }
}

}  // namespace

std::string PortCodeText(const ControllerStatus& record, unsigned drive) {
  return HexUpper(record.PortState(drive), 2);
}

std::string CapacityWithSectors(std::uint64_t sectors) {
  sectors &= kShownCapacityMask;
  return CapacityText(sectors) + "(" + std::to_string(sectors) + " Sectors)";
}

std::string SerialLineText(const std::string& prefix, const ControllerStatus& record,
                           unsigned drive) {
  return prefix + "\"" + record.DriveSerial(drive) + "\"";
}

std::vector<std::string> DeviceInformationBlock(unsigned position,
                                                const IdentificationBlock& identification,
                                                const ControllerStatus& record) {
  std::vector<std::string> lines;
  lines.push_back("Device" + std::to_string(position + 1) + " information :");
  lines.push_back("Model# " + ModelText(identification, kIdModelText));
  lines.push_back(ModeName(record.Mode()) + ", F/W Rev. " + FirmwareRevisionText(identification));
  lines.push_back("Configured Capacity : " + CapacityWithSectors(record.ArrayCapacity()));
  AddDrive(lines, record, 0);
  AddDrive(lines, record, 1);
  return lines;
}

}  // namespace raid
