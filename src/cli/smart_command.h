// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "cli/cli_session.h"

namespace raid::cli {

// `raidctl smart`: discovery, a threshold and a data read of the member drives of the first two
// enclosures, then what the SMART page would show for each drive.
int RunSmartCommand(CliSession& session, bool json);

}  // namespace raid::cli
