// SPDX-License-Identifier: GPL-2.0-or-later
// The Upgrade page's two actions in the window: loading the firmware file, read and checked on
// a thread of its own, and the upgrade, whose erase, program and verify run on the upgrade
// thread. What either shows comes back to the window thread.
#pragma once

#include <QTimer>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "firmware/firmware_image.h"
#include "firmware/keep_awake.h"
#include "firmware/upgrade_firmware.h"
#include "gui/upgrade/window_upgrade_views.h"
#include "gui/widgets/window_ui_sink.h"
#include "monitor/page_selection.h"

class QLabel;
class QStatusBar;
class QWidget;

namespace raid {

class UpgradePage;

class WindowFirmware {
 public:
  struct Parts {
    QWidget* window;
    QStatusBar* status_bar;
    const std::array<QLabel*, 5>& panels;
    UpgradePage* page;
    const std::array<QCheckBox*, 2>& boxes;
    QTimer& progress_timer;  // Timer1
    WindowUiSink& window_ui;
    UiSink& worker_ui;
  };
  // `choose_file` gives the file the user picks (empty when cancelled): the open dialog when
  // empty. `keep_awake` is what keeps the machine up during an upgrade: the platform's sleep
  // inhibitor when empty.
  WindowFirmware(MonitorCore& core, const PageSelection& selection, Parts parts,
                 std::function<std::string()> choose_file,
                 const std::function<std::unique_ptr<KeepAwake>()>& keep_awake);
  ~WindowFirmware();

  // The load button: the open dialog, then LoadFileAt.
  void LoadClick();
  // Ignored while a load runs; the outcome is shown, and the image held, back on the window's
  // thread.
  void LoadFileAt(const std::string& path);
  bool Loading() const { return loading_; }
  const FirmwareImage& image() const { return image_; }
  void ReleaseImage() { image_.Release(); }
  // The upgrade button: maintenance begins here, so that closing is refused from the click on.
  void Upgrade();
  // The last upgrade's outcome, once its thread has ended.
  std::optional<UpgradeResult> LastResult();
  // Waits for the upgrade and the load to end, serving the window's events meanwhile: the upgrade
  // writes the flash through this window's core and is never left running.
  void Finish();

 private:
  void WaitForUpgradeThread();
  void ApplyLoad(FirmwareLoadResult result);

  MonitorCore& core_;
  const PageSelection& selection_;
  Parts parts_;
  UpgradePage* page_;  // what the views refer to
  std::function<std::string()> choose_file_;
  WindowUpgradeViews views_;
  std::unique_ptr<KeepAwake> keep_awake_;
  std::unique_ptr<UpgradeFirmware> upgrader_;
  FirmwareImage image_;  // held only when it passed every check
  std::thread load_thread_;
  bool loading_ = false;  // from the load's start until its outcome is applied
  std::thread upgrade_thread_;
  std::atomic<bool> upgrade_done_{true};
  std::mutex result_mutex_;
  std::optional<UpgradeResult> result_;
};

}  // namespace raid
