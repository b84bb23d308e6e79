// SPDX-License-Identifier: GPL-2.0-or-later
// The guard that keeps the rest of the program away from an enclosure while its flash is
// rewritten: UpgradeInProgress stops the polling, detection, closing and the firmware buttons,
// and the two monitor boxes cannot be changed meanwhile.
#pragma once

#include <optional>

#include "common/shared_state.h"

namespace raid {

// The "Device1" / "Device2" monitor boxes of the main window. The window applies the change on
// its own thread; the call may come from the thread that runs the upgrade.
class MaintenanceView {
 public:
  virtual ~MaintenanceView() = default;
  virtual void EnableMonitorBoxes(bool enabled) = 0;
};

// Maintenance lasts as long as this object: BeginMaintenance makes it, its destruction is
// EndMaintenance, so no path out of an upgrade can leave the flags set.
class Maintenance {
 public:
  // Sets UpgradeInProgress and disables the monitor boxes. Empty, with nothing changed, when
  // maintenance already runs (on this thread or another).
  static std::optional<Maintenance> BeginMaintenance(SharedState& state, MaintenanceView& view);

  Maintenance(Maintenance&& other) noexcept;
  Maintenance(const Maintenance&) = delete;
  Maintenance& operator=(const Maintenance&) = delete;
  Maintenance& operator=(Maintenance&&) = delete;
  ~Maintenance() { EndMaintenance(); }

 private:
  Maintenance(SharedState& state, MaintenanceView& view) : state_(&state), view_(&view) {}
  // UpgradeTargetIndex back to none, the boxes enabled, UpgradeInProgress cleared (last, so that
  // a new upgrade cannot start before the rest is undone).
  void EndMaintenance();

  SharedState* state_;
  MaintenanceView* view_;
};

}  // namespace raid
