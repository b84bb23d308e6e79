// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/mail_templates.h"

#include <system_error>

#include "common/platform_files.h"

namespace raid {

std::string_view AlertKindName(AlertKind kind) {
  switch (kind) {
    case AlertKind::kHardDisksFail:
      return "Hard Disks Fail";
    case AlertKind::kDeviceRemoved:
      return "Device Removed";
    case AlertKind::kOverHeat:
      return "Over Heat";
    case AlertKind::kFanFail:
      return "Fan Fail";
  }
  return "";
}

std::string TemplateFileName(AlertKind kind, TemplatePart part) {
  std::string name = part == TemplatePart::kSubject ? "EmailSubject " : "EmailContens ";
  name += AlertKindName(kind);
  name += ".txt";
  return name;
}

std::filesystem::path TemplateFilePath(std::string_view folder, AlertKind kind, TemplatePart part) {
  return PathFromUtf8(folder) / PathFromUtf8(TemplateFileName(kind, part));
}

std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::vector<std::string> SplitTemplateLines(std::string_view content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(start, end - start);
    if (end < content.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

bool ReadTemplateFile(const std::filesystem::path& path, std::vector<std::string>& lines,
                      std::string& error) {
  lines.clear();
  std::string what;
  if (ExaminePath(path, what) == PathKind::kMissing) return true;
  std::string content;
  if (!ReadRegularFile(path, content, error, kTemplateFileMaxBytes)) return false;
  lines = SplitTemplateLines(content);
  return true;
}

std::uintmax_t StoredTemplateBytes(const std::vector<std::string>& lines) {
  std::uintmax_t bytes = 0;
  for (const std::string& line : lines)
    bytes += line.size() + 2;
  return bytes;
}

std::string TemplateTooLargeText(const std::vector<std::string>& lines) {
  const std::uintmax_t bytes = StoredTemplateBytes(lines);
  if (bytes <= kTemplateFileMaxBytes) return "";
  return "stored with CR LF line ends it would take " + std::to_string(bytes) +
         " bytes, more than the " + std::to_string(kTemplateFileMaxBytes) + " a template may hold";
}

bool WriteTemplateFile(const std::filesystem::path& path, const std::vector<std::string>& lines,
                       std::string& error) {
  if (const std::string too_large = TemplateTooLargeText(lines); !too_large.empty()) {
    error = too_large;
    return false;
  }
  std::string content;
  for (const std::string& line : lines) {
    content += line;
    content += "\r\n";
  }
  // The user's own words: nobody else reads a new one.
  return ReplaceFileContents(path, content, FileAccess::kNewOwnerOnly, error);
}

bool DeleteTemplateFile(const std::filesystem::path& path, std::string& error) {
  std::error_code failure;
  std::filesystem::remove(path, failure);
  if (!failure) return true;
  error = "cannot delete " + PathToUtf8(path) + ": " + failure.message();
  return false;
}

}  // namespace raid
