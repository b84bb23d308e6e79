// SPDX-License-Identifier: GPL-2.0-or-later
// Runs a shell command line for the tests that start a program as a user or a script would: its
// standard output and its exit status.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace raid::testing {

struct ShellRun {
  int exit_code = -1;  // -1 when it did not exit normally
  std::string out;
};

inline ShellRun RunShellCommand(const std::string& command) {
  ShellRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer{};
  while (std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe))
    run.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace raid::testing
