// SPDX-License-Identifier: GPL-2.0-or-later
// A lock file in the user's runtime folder, held with flock: the kernel drops the lock when the
// process ends, however it ends, so a crash never leaves a stale lock behind.
//
// Without a runtime folder the lock lives in a folder of the user's own under the temporary
// folder. Anyone may create names there, so the folder and the lock file count only when they
// belong to the user: a lock that someone else planted must never pass for another window.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/single_instance.h"

namespace raid {
namespace {

class LockFile : public SingleInstance {
 public:
  explicit LockFile(int fd) : fd_(fd) {}
  ~LockFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

 private:
  int fd_;
};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool OwnedByUser(const struct stat& status) {
  return status.st_uid == ::getuid();
}

// The folder for the lock, or nothing when none can be trusted.
std::optional<std::string> LockFolder() {
  if (std::string runtime = Environment("XDG_RUNTIME_DIR"); !runtime.empty()) return runtime;
  std::string temporary = Environment("TMPDIR");
  if (temporary.empty()) temporary = "/tmp";
  const std::string folder = temporary + "/raidgui-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
  struct stat status {};
  // Not a link, the user's, and nobody else may add or swap names in it.
  if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || !OwnedByUser(status) ||
      (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return std::nullopt;
  }
  return folder;
}

// Better two windows than none: where no lock can be trusted, one that guards nothing.
std::unique_ptr<SingleInstance> Unguarded() {
  return std::make_unique<LockFile>(-1);
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::Acquire() {
  const std::optional<std::string> folder = LockFolder();
  if (!folder) return Unguarded();
  const std::string path = *folder + "/raidgui.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return Unguarded();
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || !OwnedByUser(status)) {
    ::close(fd);
    return Unguarded();
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? nullptr : Unguarded();
  }
  return std::make_unique<LockFile>(fd);
}

}  // namespace raid
