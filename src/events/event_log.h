// SPDX-License-Identifier: GPL-2.0-or-later
// The day's event log: the in-memory list of lines that the viewer shows, and the store that
// keeps it in "yymmdd.log" files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace raid {

// At most this much of a day's log is held in memory, and the viewer shows no larger file: the
// memo would take seconds to lay it out. A larger day's earlier lines are only in its file.
inline constexpr std::uintmax_t kLargestViewedFile = 8u << 20;

struct EventLog {
  std::vector<std::string> lines;
  // Changes whenever `lines` changes other than by appending (a new day, an earlier day's list
  // back, a file's content put before the lines that waited for it, other programs' lines put
  // before ours, the earliest lines dropped). A reader that copied lines starts over when it
  // changes: the count alone cannot tell a new day from more lines.
  std::uint64_t generation = 0;
  // The day's file the lines belong to ("yymmdd.log"); empty before the first detector call.
  std::string file;
  // The file holds lines before `lines` that are not held here.
  bool earlier_lines_in_file = false;
};

// PendingDeviceLines: enclosure found / removed lines waiting for the next detector call.
struct PendingDeviceLines {
  std::vector<std::string> lines;
  bool pending = false;
};

// How far one program has followed a day's file: which file, and the end of the last whole line
// it read or wrote there. Each store gives its own meaning to the numbers.
struct LogFileMark {
  bool known = false;
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  std::uint64_t end = 0;
};

// Lines of a day's file, as a store read them.
struct LogFileLines {
  std::vector<std::string> lines;
  // The lines follow what the mark given knew; otherwise they are the file's last lines.
  bool continued = false;
  // Not continued, and the file holds lines before these that were not read.
  bool earlier_lines_in_file = false;
  LogFileMark mark;  // what is known of the file after these lines
};

// The day's log files. Several programs (the window, raidctl, the service) may append to one
// day's file at once; each sees the others' lines after its own save.
class LogFileStore {
 public:
  enum class Presence { kMissing, kPresent, kUnknown };

  virtual ~LogFileStore() = default;
  virtual Presence Probe(const std::string& name) = 0;
  // The file's last whole lines, at most kLargestViewedFile of them; empty when the file cannot
  // be read.
  virtual std::optional<LogFileLines> Load(const std::string& name) = 0;
  // Appends `lines` to the file (created when missing) in one write, and gives what it holds
  // after what `mark` knew: the lines other programs added since, then these; or, when the file
  // is not the one the mark knew or holds too much after it, its last lines. Empty (and the file
  // as it was) when that fails.
  virtual std::optional<LogFileLines> Append(const std::string& name,
                                             const std::vector<std::string>& lines,
                                             const LogFileMark& mark) = 0;
  // Why the last failed call failed.
  virtual const std::string& last_error() const = 0;
};

// The log files of one folder, created when missing; lines in the platform's text form. A save
// appends under an exclusive lock on the file and never renames it, so that programs sharing the
// folder lose no line; a line cut short by a crash stays on its own, never joined to the next.
// A name that is not a regular file (a FIFO, a device, a folder) is never opened: Probe answers
// kUnknown and Load and Append fail, with last_error() saying what it is; a symbolic link is
// followed only as ReplaceFileContents follows one.
class FolderLogStore : public LogFileStore {
 public:
  explicit FolderLogStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

  Presence Probe(const std::string& name) override;
  std::optional<LogFileLines> Load(const std::string& name) override;
  std::optional<LogFileLines> Append(const std::string& name, const std::vector<std::string>& lines,
                                     const LogFileMark& mark) override;

  const std::filesystem::path& folder() const { return folder_; }
  const std::string& last_error() const override { return last_error_; }

 private:
  std::filesystem::path folder_;
  std::string last_error_;
};

// RAIDGUI_LOG_DIR when set, else the platform's log folder.
std::filesystem::path LogFolder();

// Why the log file `name` in `folder` cannot be kept: the folder is no folder, the file is no
// regular file, or either cannot be examined. Nothing when both are fine or do not exist yet.
std::optional<std::string> LogPathProblem(const std::filesystem::path& folder,
                                          const std::string& name);

}  // namespace raid
