// SPDX-License-Identifier: GPL-2.0-or-later
// Texts for the event-log viewer's tests: a day's lines and a corrupt line far too long to lay out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace raid::testing {

// `count` lines as the detector writes them, numbered so that each is told apart.
inline std::vector<std::string> DayLines(std::size_t count) {
  std::vector<std::string> lines;
  lines.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    lines.push_back("D1 HDD1 --> HDD2 " + std::to_string(i) + "%, 12/08/26 10:00:00");
  return lines;
}

// The lines as a file holds them, each ended by `line_end`.
inline std::string FileText(const std::vector<std::string>& lines, const std::string& line_end) {
  std::string text;
  for (const std::string& line : lines)
    text += line + line_end;
  return text;
}

}  // namespace raid::testing
