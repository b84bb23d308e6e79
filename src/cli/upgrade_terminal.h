// SPDX-License-Identifier: GPL-2.0-or-later
// What a firmware upgrade shows, on raidctl's terminal: status texts and message boxes as lines
// on stderr, and the progress panel as a bar redrawn in place from ProgressCount (a line per step
// when stderr is not a terminal). The upgrade runs on raidctl's main thread; the bar is drawn by
// a ticker thread, as the window's progress timer would.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "common/ui_sink.h"
#include "firmware/maintenance.h"
#include "firmware/upgrade_progress_view.h"

namespace raid::cli {

class UpgradeTerminal : public UiSink, public MaintenanceView, public UpgradeProgressView {
 public:
  // `progress_count` is the shared ProgressCount the flash operations advance.
  explicit UpgradeTerminal(const std::atomic<std::uint32_t>& progress_count);
  ~UpgradeTerminal() override;
  UpgradeTerminal(const UpgradeTerminal&) = delete;
  UpgradeTerminal& operator=(const UpgradeTerminal&) = delete;

  void SetPanelText(int panel, const std::string& text) override;
  void ShowMessage(const MessageBoxRequest& request) override;
  void SetMonitorChecked(int, bool) override {}

  void EnableMonitorBoxes(bool) override {}  // raidctl has no monitor boxes

  void ShowProgress(std::uint32_t maximum) override;
  void SetProgressLabel(const std::string& text) override;
  void SetProgressCaption(const std::string& text) override;
  void SetProgressPosition(std::uint32_t) override {}  // the ticker reads ProgressCount itself
  void HideProgress() override;

 private:
  void Tick();
  // With the mutex held: a whole line, moving the bar out of its way.
  void PrintLineLocked(const std::string& line);
  void DrawBarLocked();

  const std::atomic<std::uint32_t>& progress_count_;
  const bool redraw_;  // stderr is a terminal
  std::mutex mutex_;
  std::condition_variable wake_;
  bool shown_ = false;
  bool bar_drawn_ = false;
  std::size_t bar_length_ = 0;
  std::uint32_t maximum_ = 0;
  std::string caption_;
  std::thread ticker_;
};

}  // namespace raid::cli
