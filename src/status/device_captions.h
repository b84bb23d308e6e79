// SPDX-License-Identifier: GPL-2.0-or-later
// The captions that follow the enclosure list and the selected enclosure: the firmware revision
// and what it allows the pages to show, the hint of every device button, and the window caption.
#pragma once

#include <string>
#include <vector>

#include "device/enclosure_list.h"

namespace raid {

struct DeviceCaptions {
  std::string firmware_version_text;   // FirmwareVersionText
  bool scan_capable_firmware = false;  // ScanCapableFirmware: reports surface scans
  bool sensor_panel_allowed = false;   // SensorPanelAllowed: fan and temperature may be shown
  std::vector<std::string> hints;      // per current-list position: "<model> [<volumes>]"
  std::string window_caption;          // "<title> - <hint of the selected enclosure>"
};

// Revisions "NNNNNN.x" with a date code newer than these report scans, and fan and temperature.
inline constexpr unsigned kLastFirmwareWithoutScan = 90618;
inline constexpr unsigned kLastFirmwareWithoutSensors = 100125;

// RefreshDeviceCaptions, for the enclosure at `selected_index` (SelectedDeviceIndex) of the
// current list. The caller skips it when no monitor box is checked. An index outside the list
// leaves the firmware fields empty and the title without a hint.
DeviceCaptions ComputeDeviceCaptions(const EnclosureRegistry& registry, unsigned selected_index);

}  // namespace raid
