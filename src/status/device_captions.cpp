// SPDX-License-Identifier: GPL-2.0-or-later
#include "status/device_captions.h"

#include <algorithm>

#include "common/product.h"
#include "common/text_helpers.h"
#include "device/disk_system.h"

namespace raid {
namespace {

constexpr std::size_t kDateDigits = 6;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The date code of a revision "NNNNNN.x"; 0 for any other form, which is older than all.
unsigned FirmwareDate(const std::string& revision) {
  if (revision.size() <= kDateDigits || revision[kDateDigits] != '.') return 0;
  const auto date_end = revision.begin() + kDateDigits;
  if (!std::all_of(revision.begin(), date_end, IsDigit)) return 0;
  return static_cast<unsigned>(std::stoul(std::string(revision.begin(), date_end)));
}

// Drive letters run together ("EF"); mount points need a separator ("/srv, /media/backup").
std::string JoinVolumes(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0 && (names[i - 1].size() != 1 || names[i].size() != 1)) text += ", ";
    text += names[i];
  }
  return text;
}

std::string DeviceHint(const EnclosureRegistry& registry, unsigned position) {
  const unsigned drive = DriveNumberOf(registry.current[position].device_code);
  std::vector<std::string> names;
  for (const VolumeRecord& volume : registry.volumes) {
    if (volume.drive_type == static_cast<std::uint8_t>(DriveType::kFixed) && volume.has_extent &&
        volume.disk_number == drive) {
      names.push_back(volume.volume);
    }
  }
  return ModelText(registry.CurrentBlock(position), kIdModelText) + " [" + JoinVolumes(names) + "]";
}

}  // namespace

DeviceCaptions ComputeDeviceCaptions(const EnclosureRegistry& registry, unsigned selected_index) {
  DeviceCaptions captions;
  for (unsigned position = 0; position < registry.current.size(); ++position) {
    captions.hints.push_back(DeviceHint(registry, position));
  }
  if (selected_index >= registry.current.size()) {
    captions.window_caption = kTitleText;
    return captions;
  }
  captions.firmware_version_text = FirmwareRevisionText(registry.CurrentBlock(selected_index));
  const unsigned date = FirmwareDate(captions.firmware_version_text);
  captions.scan_capable_firmware = date > kLastFirmwareWithoutScan;
  captions.sensor_panel_allowed =
      registry.current[selected_index].sensor_capable || date > kLastFirmwareWithoutSensors;
  captions.window_caption = std::string(kTitleText) + " - " + captions.hints[selected_index];
  return captions;
}

}  // namespace raid
