// SPDX-License-Identifier: GPL-2.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/platform_files.h"

#include "common/linux/write_place.h"

namespace raid {
namespace {

// Gives the new file the old one's owner, group and mode before any content is in it. A group
// we may not hand out (not root, not a member) stays ours, and then gets no rights at all, so that
// nobody reads the file who could not read it before.
bool KeepOwnerAndMode(int fd, const struct stat& old, FileAccess access,
                      const std::filesystem::path& target, std::string& error) {
  mode_t mode = old.st_mode & 07777;
  if (access == FileAccess::kOwnerOnly) mode &= ~(S_IRWXG | S_IRWXO);
  if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      if (errno != EPERM || old.st_uid != ::geteuid()) {
        error = ErrnoText("cannot keep the owner of", target);
        return false;
      }
      mode &= ~(S_IRWXG | S_ISGID);
    }
  }
  if (::fchmod(fd, mode) != 0) {
    error = ErrnoText("cannot keep the permissions of", target);
    return false;
  }
  return true;
}

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

std::string_view TextLineEnding() {
  return "\n";
}

std::filesystem::path DefaultLogFolder() {
  if (::geteuid() == 0) return "/var/log/raidgui";
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state != '\0') {
    return std::filesystem::path(state) / "raidgui";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "state" / "raidgui";
}

PathKind ExaminePath(const std::filesystem::path& path, std::string& what) {
  struct stat facts {};
  if (::stat(path.c_str(), &facts) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return PathKind::kMissing;
    what = std::strerror(errno);
    return PathKind::kUnknown;
  }
  if (S_ISREG(facts.st_mode)) return PathKind::kRegularFile;
  what = KindText(facts.st_mode);
  return S_ISDIR(facts.st_mode) ? PathKind::kFolder : PathKind::kOther;
}

bool ReadRegularFile(const std::filesystem::path& path, std::string& content, std::string& error,
                     std::uintmax_t max_bytes) {
  // Look before opening: opening a device can act on it (a tape rewinds), a FIFO can block.
  std::string what;
  const PathKind kind = ExaminePath(path, what);
  if (kind == PathKind::kFolder || kind == PathKind::kOther) {
    error = NotRegularFileText(path, what);
    return false;
  }
  // Non-blocking, in case the path was swapped for a FIFO since.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText("cannot read", path);
    return false;
  }
  struct stat facts {};
  if (::fstat(fd, &facts) != 0) {
    error = ErrnoText("cannot examine", path);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(facts.st_mode)) {
    error = NotRegularFileText(path, KindText(facts.st_mode));
    ::close(fd);
    return false;
  }
  content.clear();
  if (static_cast<std::uintmax_t>(facts.st_size) > max_bytes) {
    error = TooLargeFileText(path, max_bytes);
    ::close(fd);
    return false;
  }
  std::array<char, 65536> buffer{};
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText("cannot read", path);
      content.clear();
      ::close(fd);
      return false;
    }
    // A file that grows while it is read is held to the same limit.
    if (static_cast<std::uintmax_t>(got) > max_bytes - content.size()) {
      error = TooLargeFileText(path, max_bytes);
      content.clear();
      ::close(fd);
      return false;
    }
    content.append(buffer.data(), static_cast<std::size_t>(got));
  }
  ::close(fd);
  return true;
}

bool ReplaceFileContents(const std::filesystem::path& path, std::string_view content,
                         FileAccess access, std::string& error) {
  WritePlace place;
  if (!FindWritePlace(path, place, error)) return false;
  if (place.exists && !S_ISREG(place.facts.st_mode)) {
    error = NotRegularFileText(path, KindText(place.facts.st_mode));
    return false;
  }
  const int folder = place.folder.get();
  const std::string temporary = place.name + ".new";
  std::filesystem::path shown_temporary = place.path;
  shown_temporary += ".new";
  // Owner-only until it has its final rights. A leftover of a save cut short goes first, and the
  // file is made afresh: whatever was planted under its name (a link) is never written through.
  const bool owner_only = access == FileAccess::kNewOwnerOnly || access == FileAccess::kOwnerOnly;
  ::unlinkat(folder, temporary.c_str(), 0);
  UniqueFd fd(::openat(folder, temporary.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       place.exists || owner_only ? 0600 : 0644));
  if (!fd.valid()) {
    error = ErrnoText("cannot create", shown_temporary);
    return false;
  }
  const auto discard = [&] {
    fd.Reset();
    ::unlinkat(folder, temporary.c_str(), 0);
    return false;
  };
  if (place.exists && !KeepOwnerAndMode(fd.get(), place.facts, access, place.path, error)) {
    return discard();
  }
  if (!place.exists && access == FileAccess::kReadableByAll && ::fchmod(fd.get(), 0644) != 0) {
    error = ErrnoText("cannot make readable", shown_temporary);
    return discard();
  }
  if (!WriteAll(fd.get(), content) || ::fsync(fd.get()) != 0 || !fd.Close()) {
    error = ErrnoText("cannot write", shown_temporary);
    return discard();
  }
  if (::renameat(folder, temporary.c_str(), folder, place.name.c_str()) != 0) {
    error = ErrnoText("cannot replace", place.path);
    ::unlinkat(folder, temporary.c_str(), 0);
    return false;
  }
  // Make the rename itself durable.
  if (const UniqueFd listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      listing.valid()) {
    ::fsync(listing.get());
  }
  return true;
}

NewFileResult WriteNewFile(const std::filesystem::path& path, std::string_view content,
                           std::string& error) {
  // O_EXCL: the name itself is created, and no link at it, even a dangling one, is followed.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.valid()) {
    if (errno == EEXIST) return NewFileResult::kNameTaken;
    error = ErrnoText("cannot create", path);
    return NewFileResult::kCannotCreate;
  }
  if (!WriteAll(fd.get(), content) || !fd.Close()) {
    error = ErrnoText("cannot write", path);
    fd.Reset();
    ::unlink(path.c_str());
    return NewFileResult::kCannotWrite;
  }
  return NewFileResult::kWritten;
}

}  // namespace raid
