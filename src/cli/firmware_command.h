// SPDX-License-Identifier: GPL-2.0-or-later
// `raidctl firmware check` and `raidctl firmware upgrade`: the Upgrade page's load and upgrade
// buttons on the command line.
#pragma once

#include "cli/cli_options.h"
#include "cli/cli_session.h"

namespace raid::cli {

// `firmware check FILE [--device N]`: the checks of a load, against DeviceN when given (found by
// a discovery pass of `session`; without --device there is no session and no disk is touched).
// Prints the status texts and messages; 0 when the file would be loaded.
int RunFirmwareCheckCommand(CliSession* session, const CliOptions& options);
// `firmware upgrade FILE --device N [--yes]`: loads the file for DeviceN, asks for "yes" on the
// terminal (refusing without one unless --yes), and runs the upgrade with a progress bar. 0 only
// when the flash was read back holding the image.
int RunFirmwareUpgradeCommand(CliSession& session, const CliOptions& options);

}  // namespace raid::cli
