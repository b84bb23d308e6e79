// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/linux/write_place.h"

#include <fcntl.h>
#include <limits.h>

#include <cerrno>
#include <cstring>

namespace raid {
namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit

bool Trusted(uid_t owner) {
  return owner == ::geteuid() || owner == 0;
}

std::string UntrustedLinkText(const std::filesystem::path& link, const std::string& whose) {
  return link.string() + " is a symbolic link " + whose +
         ": it is not followed, so that nobody else can choose the file we read or write";
}

}  // namespace

const char* KindText(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

std::string ErrnoText(const std::string& what, const std::filesystem::path& path) {
  return what + " " + path.string() + ": " + std::strerror(errno);
}

bool FindWritePlace(const std::filesystem::path& path, WritePlace& place, std::string& error) {
  std::filesystem::path shown = path;
  const std::filesystem::path first_folder = path.has_parent_path() ? path.parent_path() : ".";
  UniqueFd folder(::open(first_folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) {
    error = ErrnoText("cannot open the folder", first_folder);
    return false;
  }
  std::string name = path.filename().string();
  for (int hop = 0;; ++hop) {
    if (name.empty() || name == "." || name == "..") {
      error = shown.string() + " names no file";
      return false;
    }
    struct stat folder_facts {};
    if (::fstat(folder.get(), &folder_facts) != 0) {
      error = ErrnoText("cannot examine the folder of", shown);
      return false;
    }
    // O_PATH opens the entry itself, whatever it is, without reading it: a FIFO cannot block.
    UniqueFd entry(::openat(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat facts {};
    if (!entry.valid() && errno != ENOENT) {
      error = ErrnoText("cannot examine", shown);
      return false;
    }
    if (entry.valid() && ::fstat(entry.get(), &facts) != 0) {
      error = ErrnoText("cannot examine", shown);
      return false;
    }
    if (!entry.valid() || !S_ISLNK(facts.st_mode)) {
      place.folder = std::move(folder);
      place.folder_facts = folder_facts;
      place.name = name;
      place.path = shown;
      place.exists = entry.valid();
      place.facts = facts;
      return true;
    }
    if (hop == kMaxLinks) {
      errno = ELOOP;
      error = ErrnoText("cannot follow", path);
      return false;
    }
    if (!Trusted(facts.st_uid)) {
      error = UntrustedLinkText(shown,
                                "owned by another user (uid " + std::to_string(facts.st_uid) + ")");
      return false;
    }
    if (!Trusted(folder_facts.st_uid)) {
      error = UntrustedLinkText(shown, "in a folder owned by another user (uid " +
                                           std::to_string(folder_facts.st_uid) + ")");
      return false;
    }
    // The link that was checked, not whatever its name holds by now.
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(entry.get(), "", target.data(), target.size());
    if (length < 0) {
      error = ErrnoText("cannot follow", shown);
      return false;
    }
    target.resize(static_cast<std::size_t>(length));
    const std::filesystem::path next(target);
    const std::filesystem::path next_folder = next.has_parent_path() ? next.parent_path() : ".";
    // An absolute folder ignores the folder descriptor; a relative one starts from the link's.
    UniqueFd next_fd(::openat(folder.get(), next_folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    shown = next.is_absolute() ? next : shown.parent_path() / next;
    if (!next_fd.valid()) {
      error = ErrnoText("cannot open the folder of", shown);
      return false;
    }
    folder = std::move(next_fd);
    name = next.filename().string();
  }
}

}  // namespace raid
