// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/push/push_files.h"

#include "common/line_file.h"
#include "common/platform_files.h"

namespace raid {

bool ReadPushFile(const std::filesystem::path& path, std::uintmax_t max_bytes, std::string& content,
                  std::string& error) {
  content.clear();
  // The log's opener applies the link rule and refuses what is not a regular file without
  // waiting on it.
  const std::unique_ptr<LineFile> file =
      LineFile::Open(path, LineFile::Use::kRead, FileAccess::kUsual, error);
  if (!file) return false;
  std::uint64_t size = 0;
  if (!file->Size(size, error)) return false;
  if (size > max_bytes) {
    error = TooLargeFileText(path, max_bytes);
    return false;
  }
  // Read to the end, for a file that grew meanwhile is held to the same limit.
  constexpr std::size_t kChunk = 64 * 1024;
  std::string bytes;
  for (std::string chunk;; bytes += chunk) {
    if (!file->ReadAt(bytes.size(), kChunk, chunk, error)) return false;
    if (bytes.size() + chunk.size() > max_bytes) {
      error = TooLargeFileText(path, max_bytes);
      return false;
    }
    if (chunk.empty()) break;
  }
  content = std::move(bytes);
  return true;
}

}  // namespace raid
