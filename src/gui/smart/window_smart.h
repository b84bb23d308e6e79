// SPDX-License-Identifier: GPL-2.0-or-later
// The SMART page in the window: the drive buttons, a table cell selected, and the double click
// on the countdown line that dumps the first enclosure's SMART sectors. The page never sends a
// command; the RAID worker reads the drives, and each read draws the page again while it shows.
#pragma once

#include <filesystem>

#include "health/smart_page_view.h"
#include "monitor/page_selection.h"

class QWidget;

namespace raid {

class SmartPage;
class StatusPage;
class WindowUiSink;

class WindowSmart {
 public:
  WindowSmart(MonitorCore& core, PageSelection& selection, QWidget* window, SmartPage* page,
              const StatusPage* status_page, WindowUiSink& ui, std::filesystem::path log_folder);

  // Draws the page from the SMART store: the Status page's enclosure, the chosen drive.
  void Show();
  // Nothing of a drive that is gone stays on the page: title, table and status line blank.
  void Blank();
  void DriveClick(unsigned drive);
  void SelectCell(int row, int column);
  void StatusLineDoubleClick();
  const SmartPageView& view() const { return view_; }

 private:
  SmartDriveRecord ShownRecord() const;

  MonitorCore& core_;
  PageSelection& selection_;
  SmartPage* page_;
  const StatusPage* status_page_;
  WindowUiSink& ui_;
  std::filesystem::path log_folder_;
  SmartPageView view_;  // as last shown
};

}  // namespace raid
