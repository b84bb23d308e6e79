// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/event_fields.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "cli/json_output.h"

namespace raid::cli {

HookEnvironment HookVariables(const MonitorEvent& event) {
  return {
      {"RAIDCTL_EVENT", std::string(MonitorEventName(event.kind))},
      {"RAIDCTL_ENCLOSURE", std::to_string(event.enclosure)},
      {"RAIDCTL_PORT", event.port ? std::to_string(*event.port) : ""},
      {"RAIDCTL_LINE", event.line},
      {"RAIDCTL_TIME", UtcTimeText(event.time)},
  };
}

std::string EventJsonLine(const MonitorEvent& event) {
  // Ordered as the hook's variables, for a reader's eye.
  const nlohmann::ordered_json object = {
      {"event", std::string(MonitorEventName(event.kind))},
      {"enclosure", event.enclosure},
      {"port", event.port ? nlohmann::ordered_json(*event.port) : nlohmann::ordered_json(nullptr)},
      {"line", event.line},
      {"time", UtcTimeText(event.time)},
  };
  // A log line in a legacy code page is not UTF-8; it must not end the monitor.
  return JsonLineText(object);
}

std::string EventDescription(const MonitorEvent& event) {
  std::string text = fmt::format("{} of Device{}", MonitorEventName(event.kind), event.enclosure);
  if (event.port) text += fmt::format(" HDD{}", *event.port);
  return text;
}

}  // namespace raid::cli
