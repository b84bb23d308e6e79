// SPDX-License-Identifier: GPL-2.0-or-later
// raidctl's stderr when it is the journal's stream: while a JournalStderr lives, each line written
// to stderr goes out with its priority in front (journal_lines.h). On a terminal, in a file that
// JOURNAL_STREAM does not name, and on Windows, nothing changes.
#pragma once

#include <string_view>

#include "cli/journal_lines.h"

namespace raid::cli {

// Whether stderr is the stream that JOURNAL_STREAM names.
bool StderrIsJournal();

class JournalStderr {
 public:
  JournalStderr();
  ~JournalStderr();
  JournalStderr(const JournalStderr&) = delete;
  JournalStderr& operator=(const JournalStderr&) = delete;
};

// Whether a JournalStderr prefixes stderr's lines now.
bool StderrLinesArePrefixed();

// One line (without its line feed) on stderr with the priority given, whatever its words are:
// a message box's icon says it, and a hook's output may not choose its own.
void WriteStderrLine(LinePriority priority, std::string_view line);

}  // namespace raid::cli
