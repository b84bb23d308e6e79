// SPDX-License-Identifier: GPL-2.0-or-later
// Status page inputs built by hand, for the page model's tests and the page widget's.
#pragma once

#include <cstdint>

#include "status/status_page_model.h"
#include "support/status_record.h"

namespace raid::testing {

// A mirror of two present 2 TB drives with these models, fan and temperature reported, firmware
// that allows the sensor panel; Device1 checked.
inline StatusPageInput Mirror(const char* hdd1_model = "ST2000DM001-1CH164",
                              const char* hdd2_model = "WDC WD20EARX-00PASB0") {
  constexpr std::uint64_t k2TB = 3907029168;  // "1863 GB"
  StatusPageInput input;
  input.enclosure_known = true;
  input.device_checked = {true, false};
  ControllerStatus& record = input.record;
  record.bytes[status_layout::kMode] = kModeMirroring;
  record.SetArrayCapacity(k2TB);
  SetDrive(record, 0, {kDrivePresent, hdd1_model, "Z1E0AAAA", k2TB});
  SetDrive(record, 1, {kDrivePresent, hdd2_model, "WD-WCAZA1111111", k2TB});
  record.bytes[status_layout::kSensorFlags] = kSensorsReported;
  record.SetFanSpeed(2200);
  record.SetTemperature(41);
  input.firmware_version_text = "100126.1";
  input.scan_capable_firmware = true;
  input.sensor_panel_allowed = true;
  return input;
}

inline StatusPageInput WithActivity(StatusPageInput input, std::uint8_t activity,
                                    std::uint8_t percent) {
  input.record.bytes[status_layout::kActivity] = activity;
  input.record.SetProgress(percent);
  return input;
}

// The mirror rebuilding onto HDD2 at 37 %.
inline StatusPageInput RebuildingMirror(const char* hdd1_model, const char* hdd2_model) {
  return WithActivity(Mirror(hdd1_model, hdd2_model), kRebuildingHdd2, 37);
}

}  // namespace raid::testing
