#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/platform_files.h"

namespace raid {
namespace {

std::string ErrnoText(const std::string& what, const std::filesystem::path& path) {
  return what + " " + path.string() + ": " + std::strerror(errno);
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

bool ReplaceFileContents(const std::filesystem::path& target, std::string_view content,
                         std::string& error) {
  std::filesystem::path temporary = target;
  temporary += ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = ErrnoText("cannot create", temporary);
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
