// SPDX-License-Identifier: GPL-2.0-or-later
// One monitor event as the programs that read raidctl see it: the hook's environment and the
// JSON line of `monitor --json`, with the same fields.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "events/monitor_events.h"

namespace raid::cli {

// Names and values added to raidctl's own environment for one hook run.
using HookEnvironment = std::vector<std::pair<std::string, std::string>>;

// RAIDCTL_EVENT, RAIDCTL_ENCLOSURE, RAIDCTL_PORT (empty for none), RAIDCTL_LINE, RAIDCTL_TIME.
HookEnvironment HookVariables(const MonitorEvent& event);

// {"event", "enclosure", "port" (null for none), "line", "time"} on one line, with its line end.
std::string EventJsonLine(const MonitorEvent& event);

// "disk-fail of Device1 HDD2", "device-found of Device2".
std::string EventDescription(const MonitorEvent& event);

}  // namespace raid::cli
