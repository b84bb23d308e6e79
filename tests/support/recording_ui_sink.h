// SPDX-License-Identifier: GPL-2.0-or-later
// A UiSink that remembers everything it was told, for tests to assert exact texts. `panels` is
// what the window's panels would show: a failure holds its panel as it does there.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "common/panel_texts.h"
#include "common/ui_sink.h"

namespace raid::testing {

class RecordingUiSink : public UiSink {
 public:
  void SetPanelText(int panel, const std::string& text) override {
    if (held_.Set(panel, text)) panels.at(static_cast<std::size_t>(panel)) = text;
    panel_history.emplace_back(panel, text);
  }
  void ShowPanelFailure(int panel, const std::string& key, const std::string& text) override {
    held_.Hold(panel, key, text);
    panels.at(static_cast<std::size_t>(panel)) = text;
    panel_history.emplace_back(panel, text);
  }
  void EndPanelFailure(int panel, const std::string& key) override {
    if (held_.Release(panel, key)) panels.at(static_cast<std::size_t>(panel)) = held_.Shown(panel);
  }
  void ShowMessage(const MessageBoxRequest& request) override { messages.push_back(request); }
  void SetMonitorChecked(int position, bool checked) override {
    monitor_changes.emplace_back(position, checked);
  }

  std::array<std::string, 5> panels;
  std::vector<std::pair<int, std::string>> panel_history;
  std::vector<MessageBoxRequest> messages;
  std::vector<std::pair<int, bool>> monitor_changes;

 private:
  PanelTexts held_;
};

}  // namespace raid::testing
