// File-system facts that differ between Linux and Windows; one implementation file per platform.
#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace raid {

// Broken-down local time, safe to call from several threads.
std::tm LocalTime(std::chrono::system_clock::time_point when);

// Line ending of the platform's text files.
std::string_view TextLineEnding();

// Where the daily logs go unless RAIDGUI_LOG_DIR says otherwise: the program's folder on
// Windows; /var/log/raidgui for root on Linux, else $XDG_STATE_HOME/raidgui
// (~/.local/state/raidgui).
std::filesystem::path DefaultLogFolder();

// Writes `content` to a new file beside `target`, forces it to disk and then puts it in place of
// `target` in one step, so that a crash or a full disk leaves either the old or the new file,
// never a shortened one. On failure `target` is untouched and `error` says why.
bool ReplaceFileContents(const std::filesystem::path& target, std::string_view content,
                         std::string& error);

}  // namespace raid
