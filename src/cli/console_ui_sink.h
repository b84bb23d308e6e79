// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl's user interface: message boxes become lines on stderr; status-bar texts are only
// shown with --verbose.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "cli/platform.h"
#include "common/ui_sink.h"
#include "monitor/polling_schedule.h"

namespace raid::cli {

class ConsoleUiSink : public UiSink {
 public:
  explicit ConsoleUiSink(bool verbose) : verbose_(verbose) {}

  void SetPanelText(int panel, const std::string& text) override {
    if (verbose_) std::fprintf(stderr, "[panel %d] %s\n", panel, text.c_str());
  }
  // The box's icon is its priority in the journal.
  void ShowMessage(const MessageBoxRequest& request) override {
    const LinePriority priority =
        request.icon == MessageIcon::kError ? LinePriority::kError
        : request.icon == MessageIcon::kWarning || request.icon == MessageIcon::kExclamation
            ? LinePriority::kWarning
            : LinePriority::kInformation;
    WriteStderrLine(priority,
                    request.caption.empty() ? request.text : request.caption + ": " + request.text);
  }
  void SetMonitorChecked(int position, bool checked) override {
    std::fprintf(stderr, "raidctl: Monitoring of Device%d %s.\n", position + 1,
                 checked ? "resumed" : "stopped after repeated failures");
  }

 private:
  bool verbose_;
};

// What the schedule changes in the window; a terminal only hears that nothing was found.
class ConsoleScheduleView : public ScheduleView {
 public:
  // Off for one-shot commands, which report an empty host themselves.
  void SetAnnounce(bool announce) { announce_ = announce; }
  // Whose drives the last count could not open: nothing is known of those.
  void SetDiscovery(const Discovery* discovery) { discovery_ = discovery; }

  void ShowDetectionText(const std::string& text, bool visible) override {
    if (announce_ && visible && text == kNoDriveFoundText) {
      const bool unopened = discovery_ != nullptr && !discovery_->UnopenedDrives().empty();
      std::fprintf(stderr, "raidctl: no enclosure found%s; waiting for one\n",
                   unopened ? " among the drives that could be opened" : "");
    }
  }
  // Install shows position 0 first, whatever it found: this counts the lists installed.
  void ShowDevice(unsigned position, bool) override {
    if (position == 0) ++lists_installed_;
  }
  void EnableControls(bool) override {}
  void EnableUpgradeButton(bool) override {}
  void ShowEventLogButton() override {}
  void RefreshDeviceCaptions() override {}
  void SetSmartStatusLine(const std::string&) override {}

  unsigned lists_installed() const { return lists_installed_; }

 private:
  bool announce_ = false;
  const Discovery* discovery_ = nullptr;
  unsigned lists_installed_ = 0;
};

}  // namespace raid::cli
