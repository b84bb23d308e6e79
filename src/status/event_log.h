// The day's event log: the in-memory list of lines that the viewer shows, and the store that
// keeps it in "yymmdd.log" files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace raid {

struct EventLog {
  std::vector<std::string> lines;
  // Changes whenever `lines` changes other than by appending (a new day, an earlier day's list
  // back, a file's content put before the lines that waited for it). A reader that copied lines
  // starts over when it changes: the count alone cannot tell a new day from more lines.
  std::uint64_t generation = 0;
  // The day's file the lines belong to ("yymmdd.log"); empty before the first detector call.
  std::string file;
};

// PendingDeviceLines: enclosure found / removed lines waiting for the next detector call.
struct PendingDeviceLines {
  std::vector<std::string> lines;
  bool pending = false;
};

class LogFileStore {
 public:
  enum class Presence { kMissing, kPresent, kUnknown };

  virtual ~LogFileStore() = default;
  virtual Presence Probe(const std::string& name) = 0;
  // Empty when the file cannot be read.
  virtual std::optional<std::vector<std::string>> Load(const std::string& name) = 0;
  // Replaces the file as a whole; false (and the old file intact) when that fails.
  virtual bool Save(const std::string& name, const std::vector<std::string>& lines) = 0;
  // Why the last failed call failed.
  virtual const std::string& last_error() const = 0;
};

// The log files of one folder, created when missing; lines in the platform's text form. A name
// that is not a regular file (a FIFO, a device, a folder) is never opened: Probe answers kUnknown
// and Load and Save fail, with last_error() saying what it is.
class FolderLogStore : public LogFileStore {
 public:
  explicit FolderLogStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

  Presence Probe(const std::string& name) override;
  std::optional<std::vector<std::string>> Load(const std::string& name) override;
  bool Save(const std::string& name, const std::vector<std::string>& lines) override;

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
