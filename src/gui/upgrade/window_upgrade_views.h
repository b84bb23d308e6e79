// SPDX-License-Identifier: GPL-2.0-or-later
// What an upgrade running on its own thread shows in the window: the monitor boxes and the
// Upgrade page's progress panel with its timer. Every call is carried to the window thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "firmware/maintenance.h"
#include "firmware/upgrade_progress_view.h"

class QCheckBox;

namespace raid {

class UpgradePage;

class WindowUpgradeViews : public MaintenanceView, public UpgradeProgressView {
 public:
  // `timer` is Timer1, which copies ProgressCount into the bar while the panel shows.
  WindowUpgradeViews(QObject* window, UpgradePage*& page, const std::array<QCheckBox*, 2>& boxes,
                     QTimer& timer)
      : window_(window), page_(page), boxes_(boxes), timer_(timer) {}

  void EnableMonitorBoxes(bool enabled) override;
  void ShowProgress(std::uint32_t maximum) override;
  void SetProgressLabel(const std::string& text) override;
  void SetProgressCaption(const std::string& text) override;
  void SetProgressPosition(std::uint32_t position) override;
  void HideProgress() override;

 private:
  void OnWindowThread(std::function<void()> call);

  QPointer<QObject> window_;
  UpgradePage*& page_;
  const std::array<QCheckBox*, 2>& boxes_;
  QTimer& timer_;
};

}  // namespace raid
