#pragma once

#include <optional>

#include "cli/cli_session.h"

namespace raid::cli {

// `raidctl monitor`: discovery, then a status refresh with event detection every 5 s, echoing
// each new log line, until SIGINT/SIGTERM or until `for_seconds` have passed on the session's
// clock.
int RunMonitorCommand(CliSession& session, std::optional<double> for_seconds);

}  // namespace raid::cli
