// SPDX-License-Identifier: GPL-2.0-or-later
// The lines of a file or of a captured output, for tests that compare them one by one.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace raid::testing {

inline std::vector<std::string> LinesFrom(std::istream& in) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// Empty when the file cannot be read.
inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream file(path);
  return LinesFrom(file);
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::istringstream in(text);
  return LinesFrom(in);
}

}  // namespace raid::testing
