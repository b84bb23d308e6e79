// SPDX-License-Identifier: GPL-2.0-or-later
// Another user than the one running the tests (usually root here), for files that must not be
// turned against their owner. POSIX only.
#pragma once

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

namespace raid::testing {

// nobody:nogroup on Debian; only root can hand files to them.
inline constexpr uid_t kOtherUser = 65534;
inline constexpr gid_t kOtherGroup = 65534;

inline bool IsRoot() {
  return ::geteuid() == 0;
}

// Runs `work` in a child process that has become kOtherUser; true when it returned true there.
inline bool RunAsOtherUser(const std::function<bool()>& work) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherGroup) != 0 || ::setuid(kOtherUser) != 0) {
      ::_exit(2);
    }
    ::_exit(work() ? 0 : 1);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A symbolic link at `link` to `target` that kOtherUser owns, as if they had planted it.
inline bool PlantOthersLink(const std::filesystem::path& target,
                            const std::filesystem::path& link) {
  std::error_code failure;
  std::filesystem::create_symlink(target, link, failure);
  return !failure && ::lchown(link.c_str(), kOtherUser, kOtherGroup) == 0;
}

inline struct stat FactsOf(const std::filesystem::path& path) {
  struct stat facts {};
  ::stat(path.c_str(), &facts);
  return facts;
}

}  // namespace raid::testing
