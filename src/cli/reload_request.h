// SPDX-License-Identifier: GPL-2.0-or-later
// How a long-running raidctl command learns that it should read its settings again: SIGHUP,
// as daemons take it. Windows has no such signal; there it is never asked. One implementation
// file per platform.
#pragma once

namespace raid::cli {

void InstallReloadHandler();
// Whether a reload was asked for since the last TakeReloadRequest, which clears it.
bool ReloadRequested();
bool TakeReloadRequest();

}  // namespace raid::cli
