// SPDX-License-Identifier: GPL-2.0-or-later
// What the logic tells the user, in the window: status-bar panels, message boxes and the monitor
// check boxes. WindowUiSink is the window thread's own; QueuedUiSink carries what a worker thread
// shows to the window thread, in order.
#pragma once

#include <QObject>
#include <QPointer>
#include <array>
#include <atomic>

#include "common/panel_texts.h"
#include "common/ui_sink.h"

class QCheckBox;
class QLabel;
class QWidget;

namespace raid {

class WindowUiSink : public UiSink {
 public:
  // The panels and boxes are the window's; they are filled in when its widgets exist.
  WindowUiSink(QWidget* window, const std::array<QLabel*, 5>& panels,
               const std::array<QCheckBox*, 2>& boxes)
      : window_(window), panels_(panels), boxes_(boxes) {}

  void SetPanelText(int panel, const std::string& text) override;
  void ShowMessage(const MessageBoxRequest& request) override;
  void SetMonitorChecked(int position, bool checked) override;
  // A failure that begins is also shown once in a warning box: a panel may cut it short.
  void ShowPanelFailure(int panel, const std::string& key, const std::string& text) override;
  void EndPanelFailure(int panel, const std::string& key) override;
  // The "DeviceN: No response" of a box that polling unchecked ends: it is checked again, or
  // another list came.
  void EndNoResponse(unsigned position);

 private:
  void Draw(int panel);

  QWidget* window_;
  PanelTexts texts_;
  const std::array<QLabel*, 5>& panels_;
  const std::array<QCheckBox*, 2>& boxes_;
};

class QueuedUiSink : public UiSink {
 public:
  // `receiver` lives on the window thread; what is queued for it is dropped when it is gone.
  QueuedUiSink(QObject* receiver, UiSink& target) : receiver_(receiver), target_(target) {}

  void SetPanelText(int panel, const std::string& text) override;
  // A worker that shows a message box waits until the window thread has shown it.
  void ShowMessage(const MessageBoxRequest& request) override;
  void SetMonitorChecked(int position, bool checked) override;
  void ShowPanelFailure(int panel, const std::string& key, const std::string& text) override;
  void EndPanelFailure(int panel, const std::string& key) override;
  // From now on a worker's box and box click are dropped, also those already queued: the window
  // is closing, and a worker must not wait for a box nobody is meant to answer.
  void Close() { closed_.store(true); }

 private:
  bool OnWindowThread() const;

  QPointer<QObject> receiver_;
  UiSink& target_;
  std::atomic<bool> closed_{false};
};

}  // namespace raid
