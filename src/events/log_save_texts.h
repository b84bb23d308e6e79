// SPDX-License-Identifier: GPL-2.0-or-later
// What the user is told when the day's log cannot be saved, when it can again, and when a
// program ends with lines unsaved: the same words in the window and on raidctl's terminal.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace raid {

inline constexpr const char* kLogSavedAgainText = "The daily log is saved again; no line was lost.";

inline std::string LogSaveFailedText(const std::string& why) {
  return "The daily log cannot be saved now; its lines wait in memory: " + why;
}

// `count` lines of `files` (earlier days first) in `folder` were never saved, for `why`.
inline std::string UnsavedLinesText(std::size_t count, const std::vector<std::string>& files,
                                    const std::filesystem::path& folder, const std::string& why) {
  std::string names;
  for (const std::string& file : files)
    names += (names.empty() ? "" : ", ") + (folder / file).string();
  return std::to_string(count) + (count == 1 ? " line" : " lines") +
         " of the daily log could not be saved to " + names + ": " + why;
}

}  // namespace raid
