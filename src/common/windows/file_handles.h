// SPDX-License-Identifier: GPL-2.0-or-later
// What the Windows file code shares: the texts of its failures and of a handle's type, and the
// whole write of a buffer through a handle.
#pragma once

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>

namespace raid {

inline std::string LastErrorText(const std::string& what, const std::filesystem::path& path) {
  return what + " " + path.string() + ": error " + std::to_string(::GetLastError());
}

// What a handle that is no disk file is, as GetFileType tells it.
inline std::string FileTypeText(DWORD type) {
  switch (type) {
    case FILE_TYPE_CHAR:
      return "a character device";
    case FILE_TYPE_PIPE:
      return "a pipe";
    default:
      return "not a plain file";
  }
}

// Writes all of `content`, a megabyte at a time; false as soon as a write fails.
inline bool WriteAllTo(HANDLE file, std::string_view content) {
  while (!content.empty()) {
    DWORD chunk = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1U << 20));
    if (!::WriteFile(file, content.data(), wanted, &chunk, nullptr)) return false;
    content.remove_prefix(chunk);
  }
  return true;
}

}  // namespace raid
