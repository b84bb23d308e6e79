// SPDX-License-Identifier: GPL-2.0-or-later
// How the window tells that the daily log cannot be saved: in the widest status panel, where it
// stays in view, and once per episode in a box, since lines that wait in memory are lost if the
// window closes before a save takes them. The detector calls on the RAID worker; what it says
// is shown on the window thread.
#pragma once

#include <string>

#include "monitor/monitor_core.h"

class QWidget;

namespace raid {

class WindowUiSink;

class WindowLogSave : public LogSaveListener {
 public:
  WindowLogSave(QWidget* window, WindowUiSink& ui, MonitorCore& core)
      : window_(window), ui_(ui), core_(core) {}

  void LogSaveFailed(const std::string& why) override;
  void LogSaveRecovered() override;
  // At closing, once the RAID worker has ended (only then may its detector be read here): how
  // many lines no file took, and where they were meant to go. True when there were some.
  bool ReportUnsavedLinesAtClose();

 private:
  QWidget* window_;
  WindowUiSink& ui_;
  MonitorCore& core_;
};

}  // namespace raid
