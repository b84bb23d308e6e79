// SPDX-License-Identifier: GPL-2.0-or-later
#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "common/platform_files.h"
#include "common/windows/file_handles.h"

namespace raid {
namespace {

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

// Opens an existing file for `access` without waiting on anything; the caller checks its type.
HANDLE OpenExisting(const std::filesystem::path& path, DWORD access) {
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

PathKind ExaminePath(const std::filesystem::path& path, std::string& what) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return PathKind::kMissing;
    what = "error " + std::to_string(code);
    return PathKind::kUnknown;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    what = "a folder";
    return PathKind::kFolder;
  }
  // Device names ("NUL", "COM1") have attributes too; only the handle's type tells them apart.
  const HANDLE file = OpenExisting(path, FILE_READ_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) return PathKind::kRegularFile;  // in use; reading will tell
  const DWORD type = ::GetFileType(file);
  ::CloseHandle(file);
  if (type == FILE_TYPE_DISK) return PathKind::kRegularFile;
  what = FileTypeText(type);
  return PathKind::kOther;
}

bool ReadRegularFile(const std::filesystem::path& path, std::string& content, std::string& error,
                     std::uintmax_t max_bytes) {
  std::string what;
  const PathKind kind = ExaminePath(path, what);
  if (kind == PathKind::kFolder || kind == PathKind::kOther) {
    error = NotRegularFileText(path, what);
    return false;
  }
  const HANDLE file = OpenExisting(path, GENERIC_READ);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastErrorText("cannot read", path);
    return false;
  }
  if (const DWORD type = ::GetFileType(file); type != FILE_TYPE_DISK) {
    error = NotRegularFileText(path, FileTypeText(type));
    ::CloseHandle(file);
    return false;
  }
  content.clear();
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file, &size) && static_cast<std::uintmax_t>(size.QuadPart) > max_bytes) {
    error = TooLargeFileText(path, max_bytes);
    ::CloseHandle(file);
    return false;
  }
  std::string buffer(65536, '\0');
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      error = LastErrorText("cannot read", path);
      content.clear();
      ::CloseHandle(file);
      return false;
    }
    if (got == 0) break;
    // A file that grows while it is read is held to the same limit.
    if (got > max_bytes - content.size()) {
      error = TooLargeFileText(path, max_bytes);
      content.clear();
      ::CloseHandle(file);
      return false;
    }
    content.append(buffer.data(), got);
  }
  ::CloseHandle(file);
  return true;
}

// A new file takes its folder's rights (its ACL): the owner-only modes are a POSIX matter, and so
// is the rule for symbolic links, which take a privilege to make on Windows.
bool ReplaceFileContents(const std::filesystem::path& target, std::string_view content,
                         FileAccess /*access*/, std::string& error) {
  std::string what;
  if (const PathKind kind = ExaminePath(target, what);
      kind == PathKind::kFolder || kind == PathKind::kOther) {
    error = NotRegularFileText(target, what);
    return false;
  }
  std::filesystem::path temporary = target;
  temporary += ".new";
  const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastErrorText("cannot create", temporary);
    return false;
  }
  bool written = WriteAllTo(file, content);
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

NewFileResult WriteNewFile(const std::filesystem::path& path, std::string_view content,
                           std::string& error) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return NewFileResult::kNameTaken;
    error = LastErrorText("cannot create", path);
    return NewFileResult::kCannotCreate;
  }
  bool written = WriteAllTo(file, content);
  if (!written) error = LastErrorText("cannot write", path);
  ::CloseHandle(file);
  if (!written) {
    ::DeleteFileW(path.c_str());
    return NewFileResult::kCannotWrite;
  }
  return NewFileResult::kWritten;
}

}  // namespace raid
