// SPDX-License-Identifier: GPL-2.0-or-later
#include <windows.h>

#include <atomic>

#include "cli/platform.h"

namespace raid::cli {
namespace {

std::atomic<bool> g_stop_requested{false};
std::atomic<const std::atomic<std::size_t>*> g_unsent{nullptr};

BOOL WINAPI RequestStop(DWORD /*event*/) {
  if (!g_stop_requested.exchange(true)) return TRUE;
  if (const std::atomic<std::size_t>* unsent = g_unsent.load()) {
    if (const std::size_t count = unsent->load(); count > 0) {
      char line[96];
      DWORD written = 0;
      WriteFile(GetStdHandle(STD_ERROR_HANDLE), line,
                static_cast<DWORD>(UnsentLine(count, line, sizeof line)), &written, nullptr);
    }
  }
  // FALSE on the second request hands it to the default handler, which ends the process.
  return FALSE;
}

}  // namespace

void ReportUnsentOnSecondStop(const std::atomic<std::size_t>* counter) {
  g_unsent.store(counter);
}

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
