// SPDX-License-Identifier: GPL-2.0-or-later
// What the logic tells the user: status-bar panel texts, message boxes and monitor check box
// changes. The window implements it on its own thread; tests record it; raidctl prints it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace raid {

enum class MessageIcon { kNone, kInformation, kWarning, kError, kExclamation };

// The caption of the program's plain message boxes.
inline constexpr const char* kMessageCaption = "Message";
// The caption of its error boxes.
inline constexpr const char* kErrorCaption = "Error";
// The caption of its warnings.
inline constexpr const char* kWarningCaption = "Warning:";

struct MessageBoxRequest {
  std::string caption;
  std::string text;
  MessageIcon icon = MessageIcon::kNone;
  bool operator==(const MessageBoxRequest&) const = default;
};

class UiSink {
 public:
  virtual ~UiSink() = default;
  // Panels 0-4 of the main window's status bar.
  virtual void SetPanelText(int panel, const std::string& text) = 0;
  virtual void ShowMessage(const MessageBoxRequest& request) = 0;
  // Unchecks (or checks) the monitor box of a list position as a user click would.
  virtual void SetMonitorChecked(int position, bool checked) = 0;
  // A failure under `key` holds the panel until EndPanelFailure: ordinary texts wait behind it.
  // Where nothing holds panels, it is a text like any other.
  virtual void ShowPanelFailure(int panel, const std::string& key, const std::string& text) {
    (void)key;
    SetPanelText(panel, text);
  }
  virtual void EndPanelFailure(int panel, const std::string& key) {
    (void)panel;
    (void)key;
  }
};

// Keeps what a worker thread wants to show until the window thread replays it, so that a
// message box is never raised from a worker.
class DeferredUiSink : public UiSink {
 public:
  void SetPanelText(int panel, const std::string& text) override;
  void ShowMessage(const MessageBoxRequest& request) override;
  void SetMonitorChecked(int position, bool checked) override;
  void ShowPanelFailure(int panel, const std::string& key, const std::string& text) override;
  void EndPanelFailure(int panel, const std::string& key) override;

  // Window thread: hands everything queued so far to `target`, in order.
  void ReplayInto(UiSink& target);
  bool Empty();

 private:
  struct Entry {
    enum class Kind { kPanel, kMessage, kMonitor, kHold, kRelease } kind;
    int number = 0;
    bool flag = false;
    MessageBoxRequest message;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace raid
