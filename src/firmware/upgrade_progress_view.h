// SPDX-License-Identifier: GPL-2.0-or-later
// The progress panel of the Upgrade page, which covers the notice while the flash is rewritten.
// The window applies each call on its own thread; the calls may come from the upgrade's thread.
#pragma once

#include <cstdint>
#include <string>

namespace raid {

class UpgradeProgressView {
 public:
  virtual ~UpgradeProgressView() = default;
  // Shows the panel with its bar from 0 to `maximum` at 0 and starts the progress timer, which
  // copies ProgressCount into the bar while the panel is shown.
  virtual void ShowProgress(std::uint32_t maximum) = 0;
  virtual void SetProgressLabel(const std::string& text) = 0;    // above the bar
  virtual void SetProgressCaption(const std::string& text) = 0;  // the panel's caption
  virtual void SetProgressPosition(std::uint32_t position) = 0;
  // Stops the progress timer and hides the panel.
  virtual void HideProgress() = 0;
};

}  // namespace raid
