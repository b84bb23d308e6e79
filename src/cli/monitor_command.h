#pragma once

#include <optional>
#include <string>

#include "cli/cli_session.h"
#include "cli/service_notifier.h"

namespace raid::cli {

// `raidctl monitor`: discovery, then a status refresh with event detection every 5 s, echoing
// each new log line, until SIGINT/SIGTERM or until `for_seconds` have passed on the session's
// clock. SIGHUP reads the mail settings again. `notifier` hears when the first list is
// installed, after every poll cycle and at the stop; the monitor's own start, stop and errors go
// to stderr (the journal under systemd), the enclosures' events to the daily log. With
// `metrics_path`, the enclosures' state is kept in that file for Prometheus (cli/metrics_file.h).
int RunMonitorCommand(CliSession& session, std::optional<double> for_seconds,
                      ServiceNotifier& notifier, const std::optional<std::string>& metrics_path);

}  // namespace raid::cli
