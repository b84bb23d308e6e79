// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "cli/cli_session.h"

namespace raid::cli {

// `raidctl status`: discovery, one status refresh of the monitored enclosures, then what the
// Status page would show for each.
int RunStatusCommand(CliSession& session, bool json);

}  // namespace raid::cli
