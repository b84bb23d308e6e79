// SPDX-License-Identifier: GPL-2.0-or-later
#include <signal.h>

#include <atomic>

#include "cli/platform.h"

namespace raid::cli {
namespace {

std::atomic<bool> g_reload_requested{false};

extern "C" void RequestReload(int /*signal_number*/) {
  g_reload_requested.store(true);
}

}  // namespace

void InstallReloadHandler() {
  struct sigaction action {};
  action.sa_handler = RequestReload;
  sigemptyset(&action.sa_mask);
  // A reload interrupts nothing; the wait in poll() returns early all the same.
  action.sa_flags = SA_RESTART;
  sigaction(SIGHUP, &action, nullptr);
}

bool ReloadRequested() {
  return g_reload_requested.load();
}

bool TakeReloadRequest() {
  return g_reload_requested.exchange(false);
}

}  // namespace raid::cli
