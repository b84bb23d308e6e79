// SPDX-License-Identifier: GPL-2.0-or-later
// How a long-running raidctl command learns that it should stop, and how it waits meanwhile.
// One implementation file per platform.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace raid::cli {

// The first SIGINT or SIGTERM (Ctrl-C, Ctrl-Break or closing the console on Windows) asks for
// an orderly stop; a second one ends the process at once, even inside a read that hangs.
void InstallStopHandlers();
// The second request still says how many alert mails are left unsent ("raidctl: N alert
// mail(s) not sent: the monitor stopped") when `counter` is set and above zero; null: nothing.
void ReportUnsentOnSecondStop(const std::atomic<std::size_t>* counter);
// That line for `count`, written without allocating: into `buffer`, returning its length.
std::size_t UnsentLine(std::size_t count, char* buffer, std::size_t size);
inline constexpr std::string_view kUnsentLineEnd = " alert mail(s) not sent: the monitor stopped\n";
bool StopRequested();
void ClearStopRequest();

// A reader of our output that goes away makes writes fail instead of ending the process.
void IgnoreBrokenPipe();

// Waits up to `ms` real milliseconds for `handle` (a descriptor; -1 for none) to become
// readable or for a stop request (on POSIX any caught signal, a reload request too). True when
// the handle became readable.
bool WaitForHandle(int handle, std::uint32_t ms);

}  // namespace raid::cli
