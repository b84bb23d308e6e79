#include "status/event_log.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "common/platform_files.h"

namespace raid {

LogFileStore::Presence FolderLogStore::Probe(const std::string& name) {
  std::error_code error;
  const bool exists = std::filesystem::exists(folder_ / name, error);
  if (error) {
    last_error_ = (folder_ / name).string() + ": " + error.message();
    return Presence::kUnknown;
  }
  return exists ? Presence::kPresent : Presence::kMissing;
}

std::optional<std::vector<std::string>> FolderLogStore::Load(const std::string& name) {
  std::ifstream file(folder_ / name, std::ios::binary);
  if (!file) {
    last_error_ = "cannot read " + (folder_ / name).string();
    return std::nullopt;
  }
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // written on the other platform
    lines.push_back(std::move(line));
  }
  if (file.bad()) {
    last_error_ = "cannot read " + (folder_ / name).string();
    return std::nullopt;
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
  return ReplaceFileContents(folder_ / name, content, last_error_);
}

std::filesystem::path LogFolder() {
  if (const char* folder = std::getenv("RAIDGUI_LOG_DIR"); folder != nullptr && *folder != '\0') {
    return folder;
  }
  return DefaultLogFolder();
}

}  // namespace raid
