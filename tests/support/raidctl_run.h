// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl started by the shell as a user or a script starts it, for the tests of the program as a
// whole: its standard output, exit status and standard error.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/build_paths.h"
#include "support/shell_command.h"

namespace raid::testing {

struct CliRun : ShellRun {
  std::string err;  // what it wrote to its standard error
};

// raidctl with `arguments` (shell-quoted, and a redirection of its standard input when wanted)
// after `environment`, the shell words in front of it (variables, `timeout 20`). Its standard
// error goes to `err_file` and is read back from there.
inline CliRun RunRaidctl(const std::string& environment, const std::string& arguments,
                         const std::filesystem::path& err_file = "/dev/null") {
  CliRun run;
  static_cast<ShellRun&>(run) = RunShellCommand(environment + " " + RAIDCTL_PATH + " " + arguments +
                                                " 2>" + err_file.string());
  std::ostringstream err;
  err << std::ifstream(err_file, std::ios::binary).rdbuf();
  run.err = err.str();
  return run;
}

}  // namespace raid::testing
