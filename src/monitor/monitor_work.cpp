// SPDX-License-Identifier: GPL-2.0-or-later
#include "monitor/monitor_work.h"

namespace raid {

void MonitorWork::InstallList() {
  // The first discovery is the start-up state, not a change; later ones that change the number
  // of enclosures leave found and removed lines for the next detector call.
  const std::vector<ListChange> changes =
      InstallNewList(device_.registry(), state_.detection.initial.load());
  FollowUpgradeTarget(device_.registry(), state_.upgrade.target_index);
  if (!changes.empty()) detector_.AddDiscoveryChanges(changes);
}

}  // namespace raid
