// SPDX-License-Identifier: GPL-2.0-or-later
#include <windows.h>

#include <algorithm>
#include <thread>

#include "common/line_file.h"
#include "common/windows/file_handles.h"

namespace raid {
namespace {

constexpr auto kLockRetry = std::chrono::milliseconds(5);
// The lock covers one byte far past any real end of file: it keeps other writers out without
// making the file's lines unreadable to anyone, as a lock on the data itself would.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0;

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED place{};
  place.Offset = static_cast<DWORD>(offset);
  place.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return place;
}

class WindowsLineFile final : public LineFile {
 public:
  WindowsLineFile(HANDLE file, std::filesystem::path path) : file_(file), path_(std::move(path)) {}
  ~WindowsLineFile() override { ::CloseHandle(file_); }

  bool Lock(std::chrono::milliseconds wait, std::string& error) override {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      OVERLAPPED place{};
      place.Offset = kLockOffsetLow;
      place.OffsetHigh = kLockOffsetHigh;
      if (::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &place)) {
        return true;
      }
      if (::GetLastError() != ERROR_LOCK_VIOLATION) {
        error = LastErrorText("cannot lock", path_);
        return false;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        error = HeldLockText(path_);
        return false;
      }
      std::this_thread::sleep_for(kLockRetry);
    }
  }

  bool Identity(FileIdentity& identity, std::string& error) override {
    BY_HANDLE_FILE_INFORMATION facts{};
    if (!::GetFileInformationByHandle(file_, &facts)) {
      error = LastErrorText("cannot examine", path_);
      return false;
    }
    identity = {facts.dwVolumeSerialNumber,
                (std::uint64_t{facts.nFileIndexHigh} << 32) | facts.nFileIndexLow};
    return true;
  }

  bool Size(std::uint64_t& size, std::string& error) override {
    LARGE_INTEGER facts{};
    if (!::GetFileSizeEx(file_, &facts)) {
      error = LastErrorText("cannot examine", path_);
      return false;
    }
    size = static_cast<std::uint64_t>(facts.QuadPart);
    return true;
  }

  bool ReadAt(std::uint64_t offset, std::size_t length, std::string& bytes,
              std::string& error) override {
    bytes.assign(length, '\0');
    std::size_t got = 0;
    while (got < length) {
      OVERLAPPED place = At(offset + got);
      DWORD part = 0;
      const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(length - got, 1U << 20));
      if (!::ReadFile(file_, bytes.data() + got, wanted, &part, &place)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) break;
        error = LastErrorText("cannot read", path_);
        return false;
      }
      if (part == 0) break;
      got += part;
    }
    bytes.resize(got);
    return true;
  }

  bool Append(std::string_view bytes, std::string& error) override {
    while (!bytes.empty()) {
      // Both offset words all ones: at the end of the file, wherever another process left it.
      OVERLAPPED place{};
      place.Offset = 0xFFFFFFFF;
      place.OffsetHigh = 0xFFFFFFFF;
      DWORD written = 0;
      const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 20));
      if (!::WriteFile(file_, bytes.data(), wanted, &written, &place)) {
        error = LastErrorText("cannot write", path_);
        return false;
      }
      bytes.remove_prefix(written);
    }
    return true;
  }

  bool Truncate(std::uint64_t size, std::string& error) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFileInformationByHandle(file_, FileEndOfFileInfo, &end, sizeof(end))) return true;
    error = LastErrorText("cannot cut back", path_);
    return false;
  }

  bool Sync(std::string& error) override {
    if (::FlushFileBuffers(file_)) return true;
    error = LastErrorText("cannot write", path_);
    return false;
  }

 private:
  HANDLE file_;
  std::filesystem::path path_;
};

}  // namespace

// The link rule is a POSIX matter: on Windows a symbolic link takes a privilege to make, and a
// file takes its folder's rights, so `access` has nothing to add.
std::unique_ptr<LineFile> LineFile::Open(const std::filesystem::path& path, Use use,
                                         FileAccess /*access*/, std::string& error) {
  std::string what;
  if (const PathKind kind = ExaminePath(path, what);
      kind == PathKind::kFolder || kind == PathKind::kOther) {
    error = NotRegularFileText(path, what);
    return nullptr;
  }
  const DWORD rights = use == Use::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  const HANDLE file = ::CreateFileW(
      path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      use == Use::kRead ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastErrorText("cannot open", path);
    return nullptr;
  }
  if (const DWORD type = ::GetFileType(file); type != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    error = NotRegularFileText(path, FileTypeText(type));
    return nullptr;
  }
  return std::make_unique<WindowsLineFile>(file, path);
}

}  // namespace raid
