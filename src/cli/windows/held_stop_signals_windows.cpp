// SPDX-License-Identifier: GPL-2.0-or-later
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "cli/platform.h"

namespace raid::cli {
namespace {

std::atomic<bool> g_told{false};
std::atomic<bool> g_holding{false};

BOOL WINAPI HoldRequest(DWORD event) {
  if (!g_told.exchange(true)) std::fputs(kUpgradeWillNotStopText, stderr);
  // Closing the console ends the process when this returns: wait for the upgrade as long as
  // the system lets us.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    while (g_holding.load())
      Sleep(100);
  }
  return TRUE;
}

}  // namespace

HeldStopSignals::HeldStopSignals() {
  g_told = false;
  g_holding = true;
  SetConsoleCtrlHandler(HoldRequest, TRUE);
}

HeldStopSignals::~HeldStopSignals() {
  g_holding = false;
  SetConsoleCtrlHandler(HoldRequest, FALSE);
}

}  // namespace raid::cli
