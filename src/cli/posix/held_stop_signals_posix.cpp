// SPDX-License-Identifier: GPL-2.0-or-later
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>

#include "cli/held_stop_signals.h"

namespace raid::cli {
namespace {

constexpr std::array<int, 4> kHeld = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
std::array<struct sigaction, kHeld.size()> g_previous;
std::atomic<bool> g_told{false};

extern "C" void AnswerOnce(int signal_number) {
  if (signal_number == SIGPIPE || g_told.exchange(true)) return;
  // Only async-signal-safe calls here; a closed terminal makes the write fail, which is fine.
  const ssize_t ignored =
      ::write(STDERR_FILENO, kUpgradeWillNotStopText, std::strlen(kUpgradeWillNotStopText));
  (void)ignored;
}

}  // namespace

HeldStopSignals::HeldStopSignals() {
  g_told = false;
  struct sigaction hold {};
  hold.sa_handler = AnswerOnce;
  sigemptyset(&hold.sa_mask);
  // The upgrade's reads and writes go on where they were.
  hold.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kHeld.size(); ++i)
    sigaction(kHeld[i], &hold, &g_previous[i]);
}

HeldStopSignals::~HeldStopSignals() {
  for (std::size_t i = 0; i < kHeld.size(); ++i)
    sigaction(kHeld[i], &g_previous[i], nullptr);
}

}  // namespace raid::cli
