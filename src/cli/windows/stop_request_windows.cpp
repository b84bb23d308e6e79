// SPDX-License-Identifier: GPL-2.0-or-later
#include <windows.h>

#include <atomic>

#include "cli/stop_request.h"

namespace raid::cli {
namespace {

std::atomic<bool> g_stop_requested{false};

BOOL WINAPI RequestStop(DWORD /*event*/) {
  // FALSE on the second request hands it to the default handler, which ends the process.
  return g_stop_requested.exchange(true) ? FALSE : TRUE;
}

}  // namespace

void InstallStopHandlers() {
  SetConsoleCtrlHandler(RequestStop, TRUE);
}

// A closed pipe makes a write fail on Windows anyway: there is no signal to turn off.
void IgnoreBrokenPipe() {}

bool StopRequested() {
  return g_stop_requested.load();
}

void ClearStopRequest() {
  g_stop_requested.store(false);
}

bool WaitForHandle(int /*handle*/, std::uint32_t ms) {
  // No descriptors to wait on here, and a console control event does not cut Sleep short: the
  // wait goes in slices, so that a stop is seen within a tenth of a second.
  constexpr std::uint32_t kSliceMs = 100;
  while (ms > 0 && !StopRequested()) {
    const std::uint32_t slice = ms < kSliceMs ? ms : kSliceMs;
    Sleep(slice);
    ms -= slice;
  }
  return false;
}

}  // namespace raid::cli
