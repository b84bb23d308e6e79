// SPDX-License-Identifier: GPL-2.0-or-later
// What the Status page shows of the enclosure on display, decided without a window: every text,
// colour, enabled flag and visibility. The widget only copies the view onto its labels.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "status/controller_status.h"

namespace raid {

// Everything a refresh needs, by value: the record is written by the RAID worker.
struct StatusPageInput {
  // The list is not empty and the shown enclosure's record has been read: values are drawn only
  // with the enclosure they belong to, never another's while its own are not known yet.
  bool enclosure_known = false;
  std::array<bool, 2> device_checked{};  // "Device1", "Device2"
  unsigned status_device = 0;            // StatusDevice: the position shown
  ControllerStatus record;               // a copy of that position's record
  // The selected enclosure's DeviceCaptions.
  std::string firmware_version_text;
  bool scan_capable_firmware = false;
  bool sensor_panel_allowed = false;
  // Polling gave up on the shown enclosure (its box was unchecked after too many failed polls)
  // and no poll has answered since: its last values are no longer known to be true.
  bool no_response = false;
};

inline constexpr const char* kNoResponseText = "No response";
// The status bar's word when polling gives up on a shown enclosure: "Device2: No response".
inline std::string DeviceNoResponseText(unsigned position) {
  return "Device" + std::to_string(position + 1) + ": " + kNoResponseText;
}

enum class TextColour { kNavy, kRed, kBlue };

// One member drive's labels: Label25 and Label51 for HDD1, Label26 and Label52 for HDD2.
struct DriveLabels {
  std::string capacity;
  std::string model;
  TextColour capacity_colour = TextColour::kNavy;
  bool capacity_enabled = true;
  bool model_enabled = true;
  bool operator==(const DriveLabels&) const = default;
};

struct StatusPageView {
  std::string mode;              // Label17
  std::string system_capacity;   // Label27
  std::string firmware_version;  // Label48
  std::array<DriveLabels, 2> drives;
  std::string state_text;  // Label18
  std::string fan_speed;   // Label5
  TextColour fan_colour = TextColour::kBlue;
  std::string temperature;  // Label7
  TextColour temperature_colour = TextColour::kBlue;
  bool sensor_panel_shown = false;  // Panel11
  bool log_button_shown = false;    // Image0_Log
  // "No response" in red, every other value greyed.
  bool no_response = false;
  bool operator==(const StatusPageView&) const = default;
};

inline constexpr std::uint8_t kNothingShown = 0xFF;

class StatusPageModel {
 public:
  // RefreshStatusPage: 0 after drawing, -1 when there is nothing to draw. The drive labels are
  // drawn again only when forced or when the drive flags changed since they were last drawn;
  // a running rebuild's text only when its percentage changed. Without an enclosure every value
  // goes blank; with no box checked the page keeps what it shows.
  int RefreshStatusPage(const StatusPageInput& input, bool force);

  // What was drawn belongs to the enclosure shown: after a new list or another device shown,
  // the next refresh draws everything again and no old drive stays on the page. Until then the
  // page keeps its values, so that a list that did not change the shown enclosure (a USB stick
  // plugged in) does not blank them.
  void Forget();

  void ShowLogButton(bool shown) { view_.log_button_shown = shown; }

  const StatusPageView& view() const { return view_; }
  bool changed() const { return changed_; }  // by the last refresh

 private:
  void DrawDrive(const ControllerStatus& record, unsigned drive);
  void DrawStateText(const StatusPageInput& input);
  void DrawValues(const StatusPageInput& input, bool force);

  StatusPageView view_;
  bool changed_ = false;
  std::uint8_t shown_drive_flags_ = kNothingShown;
  std::uint8_t shown_percent_ = kNothingShown;
  unsigned shown_device_ = 0;
  bool drives_forgotten_ = false;  // the next draw starts from empty drive labels
};

}  // namespace raid
