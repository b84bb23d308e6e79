// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/ui_sink.h"

namespace raid {

void DeferredUiSink::SetPanelText(int panel, const std::string& text) {
  std::lock_guard lock(mutex_);
  entries_.push_back({Entry::Kind::kPanel, panel, false, {"", text, MessageIcon::kNone}});
}

void DeferredUiSink::ShowMessage(const MessageBoxRequest& request) {
  std::lock_guard lock(mutex_);
  entries_.push_back({Entry::Kind::kMessage, 0, false, request});
}

void DeferredUiSink::SetMonitorChecked(int position, bool checked) {
  std::lock_guard lock(mutex_);
  entries_.push_back({Entry::Kind::kMonitor, position, checked, {}});
}

void DeferredUiSink::ShowPanelFailure(int panel, const std::string& key, const std::string& text) {
  std::lock_guard lock(mutex_);
  entries_.push_back({Entry::Kind::kHold, panel, false, {key, text, MessageIcon::kNone}});
}

void DeferredUiSink::EndPanelFailure(int panel, const std::string& key) {
  std::lock_guard lock(mutex_);
  entries_.push_back({Entry::Kind::kRelease, panel, false, {key, "", MessageIcon::kNone}});
}

void DeferredUiSink::ReplayInto(UiSink& target) {
  std::vector<Entry> entries;
  {
    std::lock_guard lock(mutex_);
    entries.swap(entries_);
  }
  for (const Entry& entry : entries) {
    switch (entry.kind) {
      case Entry::Kind::kPanel:
        target.SetPanelText(entry.number, entry.message.text);
        break;
      case Entry::Kind::kMessage:
        target.ShowMessage(entry.message);
        break;
      case Entry::Kind::kMonitor:
        target.SetMonitorChecked(entry.number, entry.flag);
        break;
      case Entry::Kind::kHold:
        target.ShowPanelFailure(entry.number, entry.message.caption, entry.message.text);
        break;
      case Entry::Kind::kRelease:
        target.EndPanelFailure(entry.number, entry.message.caption);
        break;
    }
  }
}

bool DeferredUiSink::Empty() {
  std::lock_guard lock(mutex_);
  return entries_.empty();
}

}  // namespace raid
