// SPDX-License-Identifier: GPL-2.0-or-later
// The block of device information written at the start of every log section.
#pragma once

#include <string>
#include <vector>

#include "device/enclosure_list.h"
#include "status/controller_status.h"

namespace raid {

// The lines describing the enclosure at list position `position`.
std::vector<std::string> DeviceInformationBlock(unsigned position,
                                                const IdentificationBlock& identification,
                                                const ControllerStatus& record);

// Texts shared with the drive change lines of the detector.
std::string PortCodeText(const ControllerStatus& record, unsigned drive);  // "00"
std::string CapacityWithSectors(std::uint64_t sectors);  // "931 GB(1953525168 Sectors)"
std::string SerialLineText(const std::string& prefix, const ControllerStatus& record,
                           unsigned drive);  // prefix + "\"" + serial + "\""

}  // namespace raid
