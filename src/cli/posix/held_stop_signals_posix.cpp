// SPDX-License-Identifier: GPL-2.0-or-later
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "cli/platform.h"

namespace raid::cli {
namespace {

// Every signal whose default would end or stop the process, except those that cannot be caught
// (SIGKILL, SIGSTOP) and the faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP),
// which mean the program itself is broken and must not go on writing a flash.
std::vector<int> AnsweredSignals() {
  std::vector<int> signals = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGALRM, SIGUSR1,
                              SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGTSTP};
#ifdef SIGIO
  signals.push_back(SIGIO);
#endif
#ifdef SIGPWR
  signals.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
  signals.push_back(SIGSTKFLT);
#endif
  for (int real_time = SIGRTMIN; real_time <= SIGRTMAX; ++real_time)
    signals.push_back(real_time);
  return signals;
}

// A background process that touches its terminal gets these: caught, they would come again at
// once for every write; ignored, the write goes on (or fails) and the upgrade with it.
constexpr int kIgnored[] = {SIGTTIN, SIGTTOU};

std::vector<int> g_held;
std::vector<struct sigaction> g_previous;
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
  g_held = AnsweredSignals();
  g_held.push_back(SIGPIPE);  // a reader of stdout that went away stops only the printing
  const std::size_t answered = g_held.size();
  g_held.insert(g_held.end(), std::begin(kIgnored), std::end(kIgnored));
  g_previous.assign(g_held.size(), {});
  struct sigaction hold {};
  hold.sa_handler = AnswerOnce;
  sigemptyset(&hold.sa_mask);
  // The upgrade's reads and writes go on where they were.
  hold.sa_flags = SA_RESTART;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (std::size_t i = 0; i < g_held.size(); ++i)
    sigaction(g_held[i], i < answered ? &hold : &ignore, &g_previous[i]);
}

HeldStopSignals::~HeldStopSignals() {
  for (std::size_t i = 0; i < g_held.size(); ++i)
    sigaction(g_held[i], &g_previous[i], nullptr);
}

}  // namespace raid::cli
