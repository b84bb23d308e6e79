// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "cli/cli_session.h"

namespace raid::cli {

// `raidctl discover`: one discovery pass; prints each enclosure found.
int RunDiscoverCommand(CliSession& session, bool json);

}  // namespace raid::cli
