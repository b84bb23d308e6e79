// SPDX-License-Identifier: GPL-2.0-or-later
// The Status page: the shown enclosure's mode, capacities, firmware, member drives, state, fan
// and temperature, and the buttons that choose the device and open the event log. What it shows
// is decided by StatusPageModel; the page copies that onto its labels.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <string>

#include "status/status_page_model.h"

namespace Ui {
class StatusPage;
}

namespace raid {

class StatusPage : public QWidget {
  Q_OBJECT

 public:
  explicit StatusPage(QWidget* parent = nullptr);
  ~StatusPage() override;

  // Draws the shown enclosure; 0 after drawing, -1 when there is nothing to draw.
  int RefreshStatusPage(const StatusPageInput& input, bool force);
  void ForgetShown();                                     // a new list, or another device shown
  void ShowDeviceButtons(unsigned position, bool shown);  // Image0_D1 / Image0_D2
  void SetShownDevice(unsigned device);                   // yellow picture on that one
  void SetDeviceHints(const std::array<std::string, 2>& hints);  // tooltips of Image0_D1/D2
  void ShowLogButton(bool shown);
  // What the page shows now (the SMART page's title takes the drive model labels from it).
  const StatusPageView& view() const { return model_.view(); }

 signals:
  void DeviceClicked(unsigned device);  // Image0_D1 (0) or Image0_D2 (1)
  void LogClicked();

 private:
  void ApplyView();

  std::unique_ptr<Ui::StatusPage> ui_;
  StatusPageModel model_;
};

}  // namespace raid
