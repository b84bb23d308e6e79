// SPDX-License-Identifier: GPL-2.0-or-later
// The events a monitor reports to programs (raidctl's hooks and JSON lines): the detector's
// alerts and the log's enclosure found / removed lines, each with the log line that goes with it,
// and an enclosure that stopped answering or answers again (no log line).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "events/alert_sink.h"

namespace raid {

enum class MonitorEventKind {
  kDiskFail,
  kDeviceRemoved,
  kOverHeat,
  kFanFail,
  kDeviceFound,
  kNoResponse,
  kResponding,
};

// "disk-fail", "device-removed", "over-heat", "fan-fail", "device-found", "no-response",
// "responding".
std::string_view MonitorEventName(MonitorEventKind kind);

// The event an alert of `kind` is.
MonitorEventKind AlertEventKind(AlertKind kind);

struct MonitorEvent {
  MonitorEventKind kind = MonitorEventKind::kDiskFail;
  unsigned enclosure = 1;        // DeviceN: list position + 1
  std::optional<unsigned> port;  // 1 for HDD1, 2 for HDD2; none for the enclosure as a whole
  std::string line;              // the stamped log line of the event, or empty when it has none
  std::chrono::system_clock::time_point time;
  bool operator==(const MonitorEvent&) const = default;
};

// The events of one detector call: `new_lines` are the lines it appended, `alerts` those raised
// since the last call (a removal's alert is raised at discovery, its line written by the next
// call), `time` the call's. A removal is one event: its alert and its line together. Found and
// removed enclosures come first, as their lines do, then the other alerts in the order raised.
std::vector<MonitorEvent> BuildMonitorEvents(const std::vector<std::string>& new_lines,
                                             const std::vector<AlertRequest>& alerts,
                                             std::chrono::system_clock::time_point time);

// ISO 8601 in UTC to the second: "2024-05-01T13:45:07Z".
std::string UtcTimeText(std::chrono::system_clock::time_point time);

}  // namespace raid
