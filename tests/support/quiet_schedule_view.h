// SPDX-License-Identifier: GPL-2.0-or-later
// A schedule view with no window behind it: it keeps only the last detection text.
#pragma once

#include <string>

#include "monitor/polling_schedule.h"

namespace raid::testing {

class QuietScheduleView : public ScheduleView {
 public:
  void ShowDetectionText(const std::string& text, bool) override { detection_text = text; }
  void ShowDevice(unsigned, bool) override {}
  void EnableControls(bool) override {}
  void EnableUpgradeButton(bool) override {}
  void ShowEventLogButton() override {}
  void RefreshDeviceCaptions() override {}
  void SetSmartStatusLine(const std::string&) override {}
  std::string detection_text;
};

}  // namespace raid::testing
