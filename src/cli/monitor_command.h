// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "cli/cli_session.h"
#include "cli/platform.h"

namespace raid::cli {

// What becomes of each event besides the daily log: with `json`, stdout carries one JSON object
// per event instead of the log lines; `exec` is run for each event, stopped after `exec_limit`.
struct MonitorEventOptions {
  bool json = false;
  std::optional<std::string> exec;
  std::chrono::milliseconds exec_limit{30000};
};

// `raidctl monitor`: discovery, then a status refresh with event detection every 5 s, echoing
// each new log line (or event), until SIGINT/SIGTERM or until `for_seconds` have passed on the
// session's clock. SIGHUP reads the mail settings again. `notifier` hears when the first list is
// installed, after every poll cycle and at the stop; the monitor's own start, stop and errors go
// to stderr (the journal under systemd), the enclosures' events to the daily log. With
// `metrics_path`, the enclosures' state is kept in that file for Prometheus (cli/metrics_file.h).
int RunMonitorCommand(CliSession& session, std::optional<double> for_seconds,
                      ServiceNotifier& notifier, const MonitorEventOptions& events,
                      const std::optional<std::string>& metrics_path);

}  // namespace raid::cli
