// SPDX-License-Identifier: GPL-2.0-or-later
#include "status/status_page_model.h"

#include "common/text_helpers.h"
#include "status/state_text.h"

namespace raid {
namespace {

bool SensorPanelShown(const StatusPageInput& input) {
  return input.sensor_panel_allowed && SensorsShown(input.record);
}

TextColour AlarmColour(bool alarm) {
  return alarm ? TextColour::kRed : TextColour::kBlue;
}

bool HasSerial(const ControllerStatus& record, unsigned drive) {
  return record.DriveSerial(drive).find_first_not_of(' ') != std::string::npos;
}

}  // namespace

int StatusPageModel::RefreshStatusPage(const StatusPageInput& input, bool force) {
  const StatusPageView before = view_;
  int result = 0;
  if (!input.enclosure_known) {
    // Nothing left to show: no value of an enclosure that is gone stays on the page.
    const bool log_button = view_.log_button_shown;
    view_ = StatusPageView{};
    view_.log_button_shown = log_button;
    Forget();
    result = -1;
  } else if (input.no_response) {
    // The last values stay, greyed, under a state that says they are not current.
    view_.no_response = true;
    view_.state_text = kNoResponseText;
    shown_percent_ = kNothingShown;
  } else if (!input.device_checked[0] && !input.device_checked[1]) {
    result = -1;
  } else {
    DrawValues(input, force);
  }
  changed_ = view_ != before;
  return result;
}

void StatusPageModel::DrawValues(const StatusPageInput& input, bool force) {
  if (input.status_device != shown_device_) {
    Forget();
    shown_device_ = input.status_device;
  }
  if (drives_forgotten_) {
    view_.drives = {};
    drives_forgotten_ = false;
  }
  const ControllerStatus& record = input.record;
  view_.no_response = false;
  view_.firmware_version = input.firmware_version_text;
  view_.fan_speed = std::to_string(record.FanSpeed());
  view_.fan_colour = AlarmColour((record.SensorFlags() & kFanAlarm) != 0);
  view_.temperature = std::to_string(record.Temperature());
  view_.temperature_colour = AlarmColour((record.SensorFlags() & kTemperatureAlarm) != 0);
  view_.sensor_panel_shown = SensorPanelShown(input);
  view_.mode = ModeName(record.Mode());

  if (force || record.DriveFlags() != shown_drive_flags_) {
    shown_drive_flags_ = record.DriveFlags();
    DrawDrive(record, 0);
    DrawDrive(record, 1);
    view_.system_capacity = CapacityText(record.ArrayCapacity());
  }
  DrawStateText(input);
}

void StatusPageModel::DrawDrive(const ControllerStatus& record, unsigned drive) {
  DriveLabels& labels = view_.drives[drive];
  // The capacity keeps an empty second line, level with the model's two.
  const std::string capacity = CapacityText(record.DriveCapacity(drive)) + "\n";
  switch (record.DriveState(drive)) {
    case kDriveAbsent:
      // A drive taken out stays on the page, greyed, as long as its details are known.
      if (HasSerial(record, drive)) {
        labels.capacity = capacity;
        labels.model = record.DriveModel(drive);
      }
      labels.capacity_enabled = false;
      labels.model_enabled = false;
      break;
    case kDrivePresent:
      labels.capacity_colour = TextColour::kNavy;
      labels.capacity = capacity;
      labels.model = record.DriveModel(drive);
      labels.capacity_enabled = true;
      labels.model_enabled = true;
      break;
    case kDriveFailed:
      labels.capacity_colour = TextColour::kRed;
      labels.capacity = capacity;
      labels.model = record.DriveModel(drive);
      labels.capacity_enabled = true;
      labels.model_enabled = false;
      break;
    case kDriveInserted:
      break;  // its details are not read yet; the next status tells
    default:
      labels.capacity.clear();
      labels.model.clear();
      break;
  }
}

void StatusPageModel::DrawStateText(const StatusPageInput& input) {
  const ControllerStatus& record = input.record;
  if ((record.Activity() & kRebuildActivity) == 0) {
    view_.state_text = StateText(record, input.scan_capable_firmware);
    shown_percent_ = kNothingShown;
    return;
  }
  if (record.Progress() != shown_percent_) {
    view_.state_text = StateText(record, input.scan_capable_firmware);
    shown_percent_ = record.Progress();
  }
  view_.log_button_shown = true;
}

void StatusPageModel::Forget() {
  shown_drive_flags_ = kNothingShown;
  shown_percent_ = kNothingShown;
  drives_forgotten_ = true;
}

}  // namespace raid
