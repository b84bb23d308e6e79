// SPDX-License-Identifier: GPL-2.0-or-later
// A UiSink that remembers everything it was told, for tests to assert exact texts.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "common/ui_sink.h"

namespace raid::testing {

class RecordingUiSink : public UiSink {
 public:
  void SetPanelText(int panel, const std::string& text) override {
    panels.at(static_cast<std::size_t>(panel)) = text;
    panel_history.emplace_back(panel, text);
  }
  void ShowMessage(const MessageBoxRequest& request) override { messages.push_back(request); }
  void SetMonitorChecked(int position, bool checked) override {
    monitor_changes.emplace_back(position, checked);
  }

  std::array<std::string, 5> panels;
  std::vector<std::pair<int, std::string>> panel_history;
  std::vector<MessageBoxRequest> messages;
  std::vector<std::pair<int, bool>> monitor_changes;
};

}  // namespace raid::testing
