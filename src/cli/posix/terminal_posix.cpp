// SPDX-License-Identifier: GPL-2.0-or-later
#include <unistd.h>

#include "cli/platform.h"

namespace raid::cli {

bool StandardInputIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace raid::cli
