// SPDX-License-Identifier: GPL-2.0-or-later
#include "firmware/maintenance.h"

namespace raid {

std::optional<Maintenance> Maintenance::BeginMaintenance(SharedState& state,
                                                         MaintenanceView& view) {
  // One test-and-set: two clicks, or a click and raidctl's thread, cannot both get through.
  if (state.upgrade.in_progress.exchange(true)) return std::nullopt;
  view.EnableMonitorBoxes(false);
  return Maintenance(state, view);
}

Maintenance::Maintenance(Maintenance&& other) noexcept : state_(other.state_), view_(other.view_) {
  other.state_ = nullptr;
  other.view_ = nullptr;
}

void Maintenance::EndMaintenance() {
  if (state_ == nullptr) return;  // moved from
  state_->upgrade.target_index.store(kNoUpgradeTarget);
  view_->EnableMonitorBoxes(true);
  state_->upgrade.in_progress.store(false);
}

}  // namespace raid
