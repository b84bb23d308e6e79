#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/platform_files.h"

namespace raid {
namespace {

std::string ErrnoText(const std::string& what, const std::filesystem::path& path) {
  return what + " " + path.string() + ": " + std::strerror(errno);
}

const char* KindText(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

// The file a save must replace: `target` itself, or where its symbolic links lead, so that a link
// stays a link. A dangling link leads to the file it names.
bool ResolveLinks(const std::filesystem::path& target, std::filesystem::path& resolved,
                  std::string& error) {
  constexpr int kMaxLinks = 40;  // the kernel's own limit
  resolved = target;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat facts {};
    if (::lstat(resolved.c_str(), &facts) != 0) {
      if (errno == ENOENT) return true;
      error = ErrnoText("cannot examine", resolved);
      return false;
    }
    if (!S_ISLNK(facts.st_mode)) return true;
    std::error_code link_error;
    const std::filesystem::path next = std::filesystem::read_symlink(resolved, link_error);
    if (link_error) {
      error = "cannot follow " + resolved.string() + ": " + link_error.message();
      return false;
    }
    resolved = next.is_absolute() ? next : resolved.parent_path() / next;
  }
  errno = ELOOP;
  error = ErrnoText("cannot follow", target);
  return false;
}

// Gives the new file the old one's owner, group and mode before any content is in it. A group
// we may not hand out (not root, not a member) stays ours, and then gets no rights at all, so that
// nobody reads the log who could not read it before.
bool KeepOwnerAndMode(int fd, const struct stat& old, const std::filesystem::path& target,
                      std::string& error) {
  mode_t mode = old.st_mode & 07777;
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

bool ReplaceFileContents(const std::filesystem::path& link_or_target, std::string_view content,
                         std::string& error) {
  std::filesystem::path target;
  if (!ResolveLinks(link_or_target, target, error)) return false;
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    error = ErrnoText("cannot examine", target);
    return false;
  }
  if (exists && !S_ISREG(old.st_mode)) {
    error = NotRegularFileText(link_or_target, KindText(old.st_mode));
    return false;
  }

  std::filesystem::path temporary = target;
  temporary += ".new";
  // Owner-only until it has the old file's rights; a new file gets the usual 0644 less the umask.
  // A leftover of a save cut short goes first, and the file is made afresh: whatever was planted
  // under its name (a link) is never written through.
  ::unlink(temporary.c_str());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        exists ? 0600 : 0644);
  if (fd < 0) {
    error = ErrnoText("cannot create", temporary);
    return false;
  }
  if (exists && !KeepOwnerAndMode(fd, old, target, error)) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return false;
  }
  const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
  if (!written) error = ErrnoText("cannot write", temporary);
  if (::close(fd) != 0 && written) {
    error = ErrnoText("cannot write", temporary);
    ::unlink(temporary.c_str());
    return false;
  }
  if (!written) {
    ::unlink(temporary.c_str());
    return false;
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    error = ErrnoText("cannot replace", target);
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  const std::filesystem::path folder =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace raid
