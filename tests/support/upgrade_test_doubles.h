// SPDX-License-Identifier: GPL-2.0-or-later
// Test doubles of what the firmware upgrade shows and holds: the monitor boxes, the progress
// panel and the keep-awake hold, each recording what it was told.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firmware/keep_awake.h"
#include "firmware/maintenance.h"
#include "firmware/upgrade_progress_view.h"

namespace raid::testing {

class RecordingUpgradeViews : public MaintenanceView, public UpgradeProgressView {
 public:
  void EnableMonitorBoxes(bool enabled) override { monitor_boxes.push_back(enabled); }
  void ShowProgress(std::uint32_t maximum) override {
    shown = true;
    this->maximum = maximum;
  }
  void SetProgressLabel(const std::string& text) override { label = text; }
  void SetProgressCaption(const std::string& text) override {
    captions.push_back(text);
    if (on_caption) on_caption(text);
  }
  void SetProgressPosition(std::uint32_t position) override { positions.push_back(position); }
  void HideProgress() override { shown = false; }

  std::vector<bool> monitor_boxes;  // each EnableMonitorBoxes call
  bool shown = false;
  std::uint32_t maximum = 0;
  std::string label;
  std::vector<std::string> captions;
  std::vector<std::uint32_t> positions;
  // Runs at each caption change: between the steps, where nothing holds the disk.
  std::function<void(const std::string&)> on_caption;
};

class FakeKeepAwake : public KeepAwake {
 public:
  std::unique_ptr<KeepAwakeHold> Hold(std::string& why_not) override {
    if (refusal) {
      why_not = *refusal;
      return nullptr;
    }
    ++taken;
    return std::make_unique<CountedHold>(held);
  }

  std::optional<std::string> refusal;  // set: no hold, for this reason
  int taken = 0;
  int held = 0;  // holds alive now

 private:
  class CountedHold : public KeepAwakeHold {
   public:
    explicit CountedHold(int& held) : held_(held) { ++held_; }
    ~CountedHold() override { --held_; }

   private:
    int& held_;
  };
};

}  // namespace raid::testing
