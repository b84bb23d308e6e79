// SPDX-License-Identifier: GPL-2.0-or-later
#include "events/monitor_events.h"

#include <fmt/format.h>

#include "events/event_detector.h"

namespace raid {
namespace {

bool StartsWith(const std::string& line, const std::string& prefix) {
  return line.compare(0, prefix.size(), prefix) == 0;
}

// The first line not taken yet that begins with `prefix`; it is taken. Empty when none.
std::string TakeLine(const std::vector<std::string>& lines, std::vector<bool>& taken,
                     const std::string& prefix) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!taken[i] && StartsWith(lines[i], prefix)) {
      taken[i] = true;
      return lines[i];
    }
  }
  return "";
}

}  // namespace

std::string_view MonitorEventName(MonitorEventKind kind) {
  switch (kind) {
    case MonitorEventKind::kDiskFail:
      return "disk-fail";
    case MonitorEventKind::kDeviceRemoved:
      return "device-removed";
    case MonitorEventKind::kOverHeat:
      return "over-heat";
    case MonitorEventKind::kFanFail:
      return "fan-fail";
    case MonitorEventKind::kDeviceFound:
      return "device-found";
    case MonitorEventKind::kNoResponse:
      return "no-response";
    case MonitorEventKind::kResponding:
      return "responding";
  }
  return "";
}

std::vector<MonitorEvent> BuildMonitorEvents(const std::vector<std::string>& new_lines,
                                             const std::vector<AlertRequest>& alerts,
                                             std::chrono::system_clock::time_point time) {
  std::vector<MonitorEvent> events;
  std::vector<bool> alert_used(alerts.size(), false);
  std::vector<bool> line_taken(new_lines.size(), false);
  const auto use_alert = [&](AlertKind kind, unsigned position) {
    for (std::size_t a = 0; a < alerts.size(); ++a) {
      if (!alert_used[a] && alerts[a].kind == kind && alerts[a].enclosure_index == position) {
        alert_used[a] = true;
        return;
      }
    }
  };

  // A call writes the discovery changes' lines before anything else.
  for (std::size_t i = 0; i < new_lines.size(); ++i) {
    for (unsigned position = 0; position < kMaxEnclosures; ++position) {
      const std::string name = PositionName(position);
      if (StartsWith(new_lines[i], name + std::string(kDeviceFoundText))) {
        events.push_back(
            {MonitorEventKind::kDeviceFound, position + 1, std::nullopt, new_lines[i], time});
        line_taken[i] = true;
      } else if (StartsWith(new_lines[i], name + std::string(kDeviceRemovedText))) {
        events.push_back(
            {MonitorEventKind::kDeviceRemoved, position + 1, std::nullopt, new_lines[i], time});
        line_taken[i] = true;
        use_alert(AlertKind::kDeviceRemoved, position);  // the same removal
      }
    }
  }

  for (std::size_t a = 0; a < alerts.size(); ++a) {
    if (alert_used[a]) continue;
    const AlertRequest& alert = alerts[a];
    MonitorEvent event{MonitorEventKind::kDiskFail, alert.enclosure_index + 1, std::nullopt, "",
                       time};
    // A removal's line was not among these; heat and the fan have none.
    event.kind = AlertEventKind(alert.kind);
    if (alert.kind == AlertKind::kHardDisksFail) {
      // The alert's port is the drive: 0 for HDD1.
      event.port = alert.port + 1;
      if (alert.port < 2) {
        event.line = TakeLine(
            new_lines, line_taken,
            PositionName(alert.enclosure_index) + std::string(DriveRemovedText(alert.port)));
      }
    }
    events.push_back(std::move(event));
  }
  return events;
}

MonitorEventKind AlertEventKind(AlertKind kind) {
  switch (kind) {
    case AlertKind::kHardDisksFail:
      return MonitorEventKind::kDiskFail;
    case AlertKind::kDeviceRemoved:
      return MonitorEventKind::kDeviceRemoved;
    case AlertKind::kOverHeat:
      return MonitorEventKind::kOverHeat;
    case AlertKind::kFanFail:
      return MonitorEventKind::kFanFail;
  }
  return MonitorEventKind::kDiskFail;
}

std::string UtcTimeText(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const sys_seconds seconds = floor<std::chrono::seconds>(time);
  const sys_days day = floor<days>(seconds);
  const year_month_day date(day);
  const hh_mm_ss clock(seconds - day);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", static_cast<int>(date.year()),
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                     clock.hours().count(), clock.minutes().count(), clock.seconds().count());
}

}  // namespace raid
