// SPDX-License-Identifier: GPL-2.0-or-later
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>

#include "cli/platform.h"

namespace raid::cli {
namespace {

std::atomic<bool> g_stop_requested{false};
std::atomic<const std::atomic<std::size_t>*> g_unsent{nullptr};

extern "C" void RequestStop(int signal_number) {
  if (g_stop_requested.exchange(true)) {
    // Only async-signal-safe calls: lock-free loads, our own digits, write(2).
    if (const std::atomic<std::size_t>* unsent = g_unsent.load()) {
      if (const std::size_t count = unsent->load(); count > 0) {
        char line[96];
        const ssize_t ignored = ::write(STDERR_FILENO, line, UnsentLine(count, line, sizeof line));
        (void)ignored;
      }
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
  }
}

}  // namespace

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait in poll() returns at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void ReportUnsentOnSecondStop(const std::atomic<std::size_t>* counter) {
  g_unsent.store(counter);
}

void IgnoreBrokenPipe() {
  ::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
  return g_stop_requested.load();
}

void ClearStopRequest() {
  g_stop_requested.store(false);
}

bool WaitForHandle(int handle, std::uint32_t ms) {
  // poll() ignores a negative descriptor, which makes it a plain timed wait; unlike a sleep it is
  // never resumed after a caught signal, so a stop or a reload request ends the wait at once.
  pollfd waiting{handle, POLLIN, 0};
  return ::poll(&waiting, 1, static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX))) > 0;
}

}  // namespace raid::cli
