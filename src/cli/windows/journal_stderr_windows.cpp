// SPDX-License-Identifier: GPL-2.0-or-later
// Windows has no journal: stderr stays as it is.
#include <cstdio>

#include "cli/platform.h"

namespace raid::cli {

bool StderrIsJournal() {
  return false;
}

JournalStderr::JournalStderr() = default;
JournalStderr::~JournalStderr() = default;

bool StderrLinesArePrefixed() {
  return false;
}

void WriteStderrLine(LinePriority, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace raid::cli
