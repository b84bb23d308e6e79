// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware upgrade of an enclosure: erase, program and verify of its SPI flash with the
// loaded image, inside the maintenance guard. The window runs it on a worker thread, raidctl on
// its main thread; either way it runs to its end on the calling thread.
#pragma once

#include <optional>
#include <string>

#include "common/shared_state.h"
#include "common/ui_sink.h"
#include "device/device_access.h"
#include "firmware/firmware_image.h"
#include "firmware/keep_awake.h"
#include "firmware/maintenance.h"
#include "firmware/upgrade_progress_view.h"

namespace raid {

inline constexpr int kKeepAwakePanel = 1;  // the status poll's trace, idle during an upgrade

// Where the upgrade shows what it does: status panels 1 and 4 and the message boxes, the
// monitor boxes, and the progress panel.
struct UpgradeViews {
  UiSink& ui;
  MaintenanceView& maintenance;
  UpgradeProgressView& progress;
};

enum class UpgradeOutcome {
  kIgnored,    // an upgrade was running already: nothing was done or shown
  kRefused,    // stopped before anything was sent to the enclosure
  kFailed,     // erase, program or verify failed, or the upgrade broke off on an exception;
               // the flash may be left partly rewritten
  kSucceeded,  // the flash was read back and holds the image
};

// The step that failed, or that was under way when the upgrade broke off.
enum class UpgradeStep { kNone, kErase, kProgram, kVerifyRead, kVerifyCompare };

struct UpgradeResult {
  UpgradeOutcome outcome = UpgradeOutcome::kIgnored;
  UpgradeStep failed_step = UpgradeStep::kNone;
  std::string panel_text;                         // status panel 4 at the end
  std::optional<MessageBoxRequest> last_message;  // the last message box shown
  bool kept_awake = false;                        // a keep-awake hold covered the flashing

  bool Succeeded() const { return outcome == UpgradeOutcome::kSucceeded; }
};

class UpgradeFirmware {
 public:
  UpgradeFirmware(DeviceAccess& device, SharedState& state, KeepAwake& keep_awake);

  // The upgrade button: writes `image` to the enclosure at list position `upgrade_device`
  // (UpgradeDevice). Ignored while an upgrade runs; ends in EndMaintenance on every other path.
  // An exception from below ends it as a failure, shown with the exception's text.
  UpgradeResult Run(const FirmwareImage& image, unsigned upgrade_device, const UpgradeViews& views);
  // The same, for a caller that began maintenance itself: the window does so in the click
  // handler, so that closing is refused from the click on, and hands the rest to a worker.
  UpgradeResult Run(Maintenance maintenance, const FirmwareImage& image, unsigned upgrade_device,
                    const UpgradeViews& views);

 private:
  class PanelWatch;

  // Fills `result` as it goes, so that an exception leaves it saying how far the upgrade got.
  void CheckAndFlash(const FirmwareImage& image, unsigned upgrade_device, PanelWatch& ui,
                     UpgradeProgressView& progress, UpgradeResult& result);
  // The failed step, or kNone; `under_way` follows the steps as they start.
  UpgradeStep EraseProgramVerify(const FirmwareImage& image, PanelWatch& ui,
                                 UpgradeProgressView& progress, UpgradeStep& under_way);

  DeviceAccess& device_;
  SharedState& state_;
  KeepAwake& keep_awake_;
};

}  // namespace raid
