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
  Sleep(ms);  // no descriptors to wait on here: the recount watcher is asked after each slice
  return false;
}

}  // namespace raid::cli
