#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "common/platform_files.h"

namespace raid {
namespace {

std::string LastErrorText(const std::string& what, const std::filesystem::path& path) {
  return what + " " + path.string() + ": error " + std::to_string(::GetLastError());
}

std::filesystem::path ProgramFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::filesystem::current_path();
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer).parent_path();
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_s(&local, &seconds);
  return local;
}

std::string_view TextLineEnding() {
  return "\r\n";
}

std::filesystem::path DefaultLogFolder() {
  return ProgramFolder();
}

bool ReplaceFileContents(const std::filesystem::path& target, std::string_view content,
                         std::string& error) {
  std::filesystem::path temporary = target;
  temporary += ".new";
  const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastErrorText("cannot create", temporary);
    return false;
  }
  bool written = true;
  while (written && !content.empty()) {
    DWORD chunk = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1U << 20));
    written = ::WriteFile(file, content.data(), wanted, &chunk, nullptr) != FALSE;
    content.remove_prefix(chunk);
  }
  written = written && ::FlushFileBuffers(file) != FALSE;
  if (!written) error = LastErrorText("cannot write", temporary);
  ::CloseHandle(file);
  if (!written) {
    ::DeleteFileW(temporary.c_str());
    return false;
  }
  if (!::MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = LastErrorText("cannot replace", target);
    ::DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace raid
