// SPDX-License-Identifier: GPL-2.0-or-later
// File-system facts that differ between Linux and Windows; one implementation file per platform.
#pragma once

#include <chrono>
#include <cstdint>
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

enum class PathKind { kMissing, kRegularFile, kFolder, kOther, kUnknown };

// What `path` names, following symbolic links, without opening it. `what` describes it ("a
// folder", "a FIFO") or, for kUnknown, says why it could not be examined.
PathKind ExaminePath(const std::filesystem::path& path, std::string& what);

// The message for a path that exists but is no regular file; `what` as ExaminePath gives it.
inline std::string NotRegularFileText(const std::filesystem::path& path, const std::string& what) {
  return path.string() + " is not a regular file (" + what + ")";
}

// "1 MiB", "16 MiB", "512 bytes": a size limit as messages name it.
inline std::string SizeLimitText(std::uintmax_t bytes) {
  constexpr std::uintmax_t kMebibyte = 1024 * 1024;
  if (bytes >= kMebibyte && bytes % kMebibyte == 0)
    return std::to_string(bytes / kMebibyte) + " MiB";
  return std::to_string(bytes) + " bytes";
}

// The message for a file larger than a reader takes.
inline std::string TooLargeFileText(const std::filesystem::path& path, std::uintmax_t max_bytes) {
  return path.string() + " is larger than " + SizeLimitText(max_bytes);
}

// Reads a whole regular file of at most `max_bytes`. A FIFO, a device or a folder fails at once
// with NotRegularFileText: opening one could block for ever or act on the device. A larger file
// (or one that grows past the limit while it is read) fails with a message that names the limit,
// and nothing of it is kept.
bool ReadRegularFile(const std::filesystem::path& path, std::string& content, std::string& error,
                     std::uintmax_t max_bytes);

// Who may read a file we write. On Linux an existing file keeps its mode (never wider), owner and
// group unless kOwnerOnly says less; on Windows a file takes its folder's rights.
enum class FileAccess {
  kUsual,          // a new file: 0644 less the umask
  kReadableByAll,  // a new file: 0644 whatever the umask, for a reader running as another user
  kNewOwnerOnly,   // a new file: 0600
  kOwnerOnly,      // 0600 for a new file, and an old one loses its group's and others' rights
};

// Writes `content` to a new file beside `target`, forces it to disk and then puts it in place of
// `target` in one step, so that a crash or a full disk leaves either the old or the new file,
// never a shortened one. On failure `target` is untouched and `error` says why. A target that is
// not a regular file is refused. On Linux a symbolic link stays a link (the file it leads to is
// replaced) when the link and its folder both belong to the user running the program or to
// root; any other link is refused, so that nobody can point our writes at a file of their
// choosing.
bool ReplaceFileContents(const std::filesystem::path& target, std::string_view content,
                         FileAccess access, std::string& error);

enum class NewFileResult { kWritten, kNameTaken, kCannotCreate, kCannotWrite };

// Writes `content` to a file made at `path`, which must not exist yet: whatever holds the name (a
// file, a symbolic link, even a dangling one) is kNameTaken and never written through. A file
// that could not be written whole is removed again.
NewFileResult WriteNewFile(const std::filesystem::path& path, std::string_view content,
                           std::string& error);

}  // namespace raid
