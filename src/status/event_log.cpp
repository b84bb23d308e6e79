#include "status/event_log.h"

#include <cstdlib>
#include <limits>
#include <system_error>

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

std::optional<std::vector<std::string>> FolderLogStore::Load(const std::string& name) {
  std::string content;
  if (!ReadRegularFile(folder_ / name, content, last_error_,
                       std::numeric_limits<std::uintmax_t>::max()))
    return std::nullopt;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // written on the other platform
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

bool FolderLogStore::Save(const std::string& name, const std::vector<std::string>& lines) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) {
    last_error_ = "cannot create " + folder_.string() + ": " + error.message();
    return false;
  }
  std::string content;
  const std::string_view ending = TextLineEnding();
  for (const std::string& line : lines) {
    content += line;
    content += ending;
  }
  return ReplaceFileContents(folder_ / name, content, FileAccess::kUsual, last_error_);
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
