// SPDX-License-Identifier: GPL-2.0-or-later
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/platform.h"

namespace raid::cli {
namespace {

// The terminal as it was before the prompt, for a signal that ends the process during it.
termios g_saved{};
struct sigaction g_previous[3];
constexpr int kEndingSignals[3] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RestoreAndEnd(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

bool ReadSecretLine(const char* prompt, std::string& line) {
  const bool terminal = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &g_saved) == 0;
  if (terminal) {
    // Ctrl-C at the prompt must not leave the shell without its echo.
    struct sigaction restore {};
    restore.sa_handler = RestoreAndEnd;
    sigemptyset(&restore.sa_mask);
    for (int i = 0; i < 3; ++i)
      sigaction(kEndingSignals[i], &restore, &g_previous[i]);
    termios quiet = g_saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    // Only once nothing typed shows any more.
    std::fputs(prompt, stderr);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    for (int i = 0; i < 3; ++i)
      sigaction(kEndingSignals[i], &g_previous[i], nullptr);
    std::fputs("\n", stderr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return read;
}

}  // namespace raid::cli
