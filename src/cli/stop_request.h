// SPDX-License-Identifier: GPL-2.0-or-later
// How a long-running raidctl command learns that it should stop, and how it waits meanwhile.
// One implementation file per platform.
#pragma once

#include <cstdint>

namespace raid::cli {

// The first SIGINT or SIGTERM (Ctrl-C, Ctrl-Break or closing the console on Windows) asks for
// an orderly stop; a second one ends the process at once, even inside a read that hangs.
void InstallStopHandlers();
bool StopRequested();
void ClearStopRequest();

// A reader of our output that goes away makes writes fail instead of ending the process.
void IgnoreBrokenPipe();

// Waits up to `ms` real milliseconds for `handle` (a descriptor; -1 for none) to become
// readable or for a stop request (on POSIX any caught signal, a reload request too). True when
// the handle became readable.
bool WaitForHandle(int handle, std::uint32_t ms);

}  // namespace raid::cli
