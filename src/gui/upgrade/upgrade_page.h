// SPDX-License-Identifier: GPL-2.0-or-later
// The Upgrade page: the enclosure to upgrade, its firmware version, the firmware file with its
// load button, the upgrade button, and the progress panel that covers the notice while the
// flash is rewritten. The window decides what the buttons do; the page shows what it is told.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <string>

namespace Ui {
class UpgradePage;
}

namespace raid {

class UpgradePage : public QWidget {
  Q_OBJECT

 public:
  explicit UpgradePage(QWidget* parent = nullptr);
  ~UpgradePage() override;

  // The two buttons as the window wants them; while a file loads both stay disabled.
  void EnableLoadButton(bool enabled);                           // Image2_Load
  void EnableUpgradeButton(bool enabled);                        // Image2_Upgrade
  void ShowDeviceButtons(unsigned position, bool shown);         // Image2_D1 / Image2_D2
  void SetShownDevice(unsigned device);                          // yellow picture on that one
  void SetDeviceHints(const std::array<std::string, 2>& hints);  // tooltips of Image2_D1/D2
  void SetVersionText(const std::string& text);                  // after "Firmware Version:"
  void SetPathText(const std::string& path);  // the edit box beside the load button
  // A firmware file is being read: the page says so, and neither button takes a click.
  void ShowLoading(bool loading);
  bool Loading() const { return loading_; }
  // The progress panel over the notice: shown only while an upgrade runs.
  void ShowProgressPanel(bool shown);
  void SetProgressCaption(const std::string& text);  // "Process 1 / 3"
  void SetProgressLabel(const std::string& text);    // "Firmware Update..."
  void SetProgress(int value);
  void SetProgressMaximum(int maximum);
  int Progress() const;
  int ProgressMaximum() const;
  bool ProgressPanelShown() const;

 signals:
  void DeviceClicked(unsigned device);  // Image2_D1 (0) or Image2_D2 (1)
  void LoadClicked();                   // Image2_Load
  void UpgradeClicked();                // Image2_Upgrade

 private:
  void UpdateButtons();

  std::unique_ptr<Ui::UpgradePage> ui_;
  bool load_enabled_ = false;
  bool upgrade_enabled_ = false;
  bool loading_ = false;
};

}  // namespace raid
