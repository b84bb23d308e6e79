// SPDX-License-Identifier: GPL-2.0-or-later
// The lines the event-log viewer shows, decided without a window. A log line is shown as it is,
// unless it is longer than the memo lays out in a moment (a corrupt file, a file that is no log):
// then its start is shown with a note of how much was left out. A large text reaches the memo in
// batches of bounded size, so that the window handles its events between them.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace raid {

// The bytes of a line that are shown; the memo lays out a line of this length in well under a
// millisecond, whatever its wrapping.
inline constexpr std::size_t kLongestShownLine = 4000;

// What follows the shown start of a cut line.
std::string CutLineNote(std::size_t more_characters);

// `line` as shown: a longer line is cut after kLongestShownLine bytes (never inside a UTF-8
// sequence) and followed by CutLineNote with the number of characters left out.
std::string ShownLine(std::string_view line);
// The same in place; a line short enough is not copied.
void CutForShowing(std::string& line);

// The lines of a log file's text, each cut for showing. A line may end in LF or in CR LF (a file
// written on the other platform); a last line without a line end counts too.
std::vector<std::string> ShownLinesOf(std::string_view text);

// Lines waiting for the memo, handed out in order, each once.
class LineBatches {
 public:
  void Clear();
  // Takes the lines as they are: a whole file's lines are not copied.
  void Add(std::vector<std::string> lines);
  bool Empty() const { return parts_.empty(); }

  // The next lines joined by LF: as many as fit in `max_bytes`, but at least one.
  std::string Next(std::size_t max_bytes);

 private:
  std::deque<std::vector<std::string>> parts_;  // none empty
  std::size_t next_ = 0;                        // in the first part
};

}  // namespace raid
