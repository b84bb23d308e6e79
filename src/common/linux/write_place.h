// SPDX-License-Identifier: GPL-2.0-or-later
// Where a file we write lives, found without following a symbolic link that someone else could
// have planted: shared by the writer that replaces files and the one that appends to them.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>

namespace raid {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now, for the caller to learn whether the last writes reached the file.
  bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_ = -1;
};

struct WritePlace {
  UniqueFd folder;  // opened as a path (O_PATH): the folder the file is in
  struct stat folder_facts {};
  std::string name;            // the file's name in that folder
  std::filesystem::path path;  // the same, for messages
  bool exists = false;
  struct stat facts {};  // the entry's when it exists; never a symbolic link
};

// The place `path` names. Its last step may be a symbolic link (and so may the link's), followed
// only when the link and the folder it is in both belong to the user running the program or to
// root, as fstat tells of the link opened without following it; the target is read from that
// same opened link. Anything else is refused, with a message that names the path and why.
bool FindWritePlace(const std::filesystem::path& path, WritePlace& place, std::string& error);

// "a FIFO", "a folder": what a file type is, for messages.
const char* KindText(mode_t mode);

// "cannot write PATH: <strerror(errno)>".
std::string ErrnoText(const std::string& what, const std::filesystem::path& path);

}  // namespace raid
