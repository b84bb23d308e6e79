// SPDX-License-Identifier: GPL-2.0-or-later
#include <windows.h>

#include "cli/platform.h"

namespace raid::cli {
namespace {

// A console, not a file or a pipe (which the C runtime's _isatty cannot tell from a device).
bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool StandardInputIsTerminal() {
  return IsConsole(STD_INPUT_HANDLE);
}

bool StandardErrorIsTerminal() {
  return IsConsole(STD_ERROR_HANDLE);
}

}  // namespace raid::cli
