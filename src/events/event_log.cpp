// SPDX-License-Identifier: GPL-2.0-or-later
#include "events/event_log.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <system_error>

#include "common/line_file.h"
#include "common/platform_files.h"

namespace raid {

LogFileStore::Presence FolderLogStore::Probe(const std::string& name) {
  const std::filesystem::path path = folder_ / name;
  std::string what;
  switch (ExaminePath(path, what)) {
    case PathKind::kMissing:
      return Presence::kMissing;
    case PathKind::kRegularFile:
      return Presence::kPresent;
    case PathKind::kFolder:
    case PathKind::kOther:
      last_error_ = NotRegularFileText(path, what);
      return Presence::kUnknown;
    case PathKind::kUnknown:
      break;
  }
  last_error_ = "cannot examine " + path.string() + ": " + what;
  return Presence::kUnknown;
}

namespace {

// Another program's save takes milliseconds; one that holds the lock longer is stuck or hostile,
// and the lines wait for the next save rather than hold up the monitor.
constexpr auto kLockWait = std::chrono::seconds(2);

// The whole lines of `bytes`, read from `from` in the file; `mid_line`: the bytes may begin inside
// a line (or with the line feed that ends one), which is left out. The mark ends after the last
// whole line.
void TakeLines(const std::string& bytes, std::uint64_t from, bool mid_line, LogFileLines& into) {
  std::size_t start = 0;
  if (mid_line) {
    const std::size_t first_end = bytes.find('\n');
    start = first_end == std::string::npos ? bytes.size() : first_end + 1;
  }
  const std::size_t last_end = bytes.rfind('\n');
  const std::size_t stop = last_end == std::string::npos || last_end < start ? start : last_end + 1;
  std::size_t next = start;
  while (next < stop) {
    const std::size_t end = bytes.find('\n', next);
    std::size_t line_end = end;
    if (line_end > next && bytes[line_end - 1] == '\r') --line_end;  // written on Windows
    into.lines.emplace_back(bytes, next, line_end - next);
    next = end + 1;
  }
  into.mark.end = from + stop;
}

// The last whole lines before `end`, at most kLargestViewedFile of them.
bool ReadTail(LineFile& file, std::uint64_t end, LogFileLines& into, std::string& error) {
  const bool cut = end > kLargestViewedFile;
  // One byte more when cut, to tell whether the first line read begins a line.
  const std::uint64_t from = cut ? end - kLargestViewedFile - 1 : 0;
  std::string bytes;
  if (!file.ReadAt(from, static_cast<std::size_t>(end - from), bytes, error)) return false;
  into.earlier_lines_in_file = cut;
  TakeLines(bytes, from, cut, into);
  return true;
}

bool MarkFile(LineFile& file, LogFileMark& mark, std::string& error) {
  FileIdentity identity;
  if (!file.Identity(identity, error)) return false;
  mark.known = true;
  mark.volume = identity.volume;
  mark.file = identity.file;
  return true;
}

}  // namespace

std::optional<LogFileLines> FolderLogStore::Load(const std::string& name) {
  const std::unique_ptr<LineFile> file =
      LineFile::Open(folder_ / name, LineFile::Use::kRead, FileAccess::kUsual, last_error_);
  // Without the lock: a line another program is writing now is not whole yet and is left for the
  // next save to find.
  LogFileLines read;
  std::uint64_t size = 0;
  if (file == nullptr || !file->Size(size, last_error_) ||
      !MarkFile(*file, read.mark, last_error_) || !ReadTail(*file, size, read, last_error_)) {
    return std::nullopt;
  }
  return read;
}

std::optional<LogFileLines> FolderLogStore::Append(const std::string& name,
                                                   const std::vector<std::string>& lines,
                                                   const LogFileMark& mark) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) {
    last_error_ = "cannot create " + folder_.string() + ": " + error.message();
    return std::nullopt;
  }
  const std::unique_ptr<LineFile> file =
      LineFile::Open(folder_ / name, LineFile::Use::kAppend, FileAccess::kUsual, last_error_);
  LogFileLines now;
  std::uint64_t size = 0;
  if (file == nullptr || !file->Lock(kLockWait, last_error_) || !file->Size(size, last_error_) ||
      !MarkFile(*file, now.mark, last_error_)) {
    return std::nullopt;
  }
  const std::string_view ending = TextLineEnding();
  std::string text;
  if (size > 0) {
    // A line cut short by a crash keeps its own line: ours never continue it.
    std::string last;
    if (!file->ReadAt(size - 1, 1, last, last_error_)) return std::nullopt;
    if (last != "\n") text += ending;
  }
  for (const std::string& line : lines) {
    text += line;
    text += ending;
  }
  if (!file->Append(text, last_error_) || !file->Sync(last_error_)) {
    std::string ignored;
    file->Truncate(size, ignored);  // what went in part way is taken out again
    return std::nullopt;
  }
  const std::uint64_t end = size + text.size();
  // Still under the lock, so every line up to `end` is whole.
  now.continued = mark.known && mark.volume == now.mark.volume && mark.file == now.mark.file &&
                  mark.end <= size && end - mark.end <= kLargestViewedFile;
  std::string bytes;
  std::string read_error;
  if (now.continued
          ? file->ReadAt(mark.end, static_cast<std::size_t>(end - mark.end), bytes, read_error)
          : ReadTail(*file, end, now, read_error)) {
    if (now.continued) TakeLines(bytes, mark.end, false, now);
    return now;
  }
  // The lines are in the file, and saving them again would double them: they count as saved,
  // and the next save reads the file's end afresh.
  now = LogFileLines{lines, true, false, LogFileMark{}};
  return now;
}

std::filesystem::path LogFolder() {
  if (const char* folder = std::getenv("RAIDGUI_LOG_DIR"); folder != nullptr && *folder != '\0') {
    return folder;
  }
  return DefaultLogFolder();
}

std::optional<std::string> LogPathProblem(const std::filesystem::path& folder,
                                          const std::string& name) {
  std::string what;
  switch (ExaminePath(folder, what)) {
    case PathKind::kMissing:
      return std::nullopt;  // the first save creates it
    case PathKind::kFolder:
      break;
    case PathKind::kRegularFile:
      return folder.string() + " is not a folder (a regular file)";
    case PathKind::kOther:
      return folder.string() + " is not a folder (" + what + ")";
    case PathKind::kUnknown:
      return "cannot examine " + folder.string() + ": " + what;
  }
  const std::filesystem::path path = folder / name;
  switch (ExaminePath(path, what)) {
    case PathKind::kMissing:
    case PathKind::kRegularFile:
      return std::nullopt;
    case PathKind::kFolder:
    case PathKind::kOther:
      return NotRegularFileText(path, what);
    case PathKind::kUnknown:
      break;
  }
  return "cannot examine " + path.string() + ": " + what;
}

}  // namespace raid
