#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/cli_mail.h"

namespace raid::cli {

bool ReadSecretLine(const char* prompt, std::string& line) {
  const bool terminal = isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal && tcgetattr(STDIN_FILENO, &saved) == 0) {
    std::fputs(prompt, stderr);
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return read;
}

}  // namespace raid::cli
