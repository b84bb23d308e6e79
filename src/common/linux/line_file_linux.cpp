// SPDX-License-Identifier: GPL-2.0-or-later
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "common/line_file.h"
#include "common/linux/write_place.h"

namespace raid {
namespace {

// A name that changes between our look and our open (a race with someone renaming, linking or
// creating it) is looked at again, a few times.
constexpr int kOpenAttempts = 8;
constexpr auto kLockRetry = std::chrono::milliseconds(5);

class LinuxLineFile final : public LineFile {
 public:
  LinuxLineFile(UniqueFd fd, std::filesystem::path path)
      : fd_(std::move(fd)), path_(std::move(path)) {}

  bool Lock(std::chrono::milliseconds wait, std::string& error) override {
    // Never an unbounded wait: anyone who can read the file can take its lock, and a monitor
    // must not hang on a reader that keeps it.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) return true;
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        error = ErrnoText("cannot lock", path_);
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
    struct stat facts {};
    if (!Stat(facts, error)) return false;
    identity = {static_cast<std::uint64_t>(facts.st_dev), static_cast<std::uint64_t>(facts.st_ino)};
    return true;
  }

  bool Size(std::uint64_t& size, std::string& error) override {
    struct stat facts {};
    if (!Stat(facts, error)) return false;
    size = static_cast<std::uint64_t>(facts.st_size);
    return true;
  }

  bool ReadAt(std::uint64_t offset, std::size_t length, std::string& bytes,
              std::string& error) override {
    bytes.assign(length, '\0');
    std::size_t got = 0;
    while (got < length) {
      const ssize_t part =
          ::pread(fd_.get(), bytes.data() + got, length - got, static_cast<off_t>(offset + got));
      if (part == 0) break;
      if (part < 0) {
        if (errno == EINTR) continue;
        error = ErrnoText("cannot read", path_);
        return false;
      }
      got += static_cast<std::size_t>(part);
    }
    bytes.resize(got);
    return true;
  }

  bool Append(std::string_view bytes, std::string& error) override {
    // O_APPEND: each write lands at the end, wherever another process left it.
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
      if (written < 0) {
        if (errno == EINTR) continue;
        error = ErrnoText("cannot write", path_);
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }

  bool Truncate(std::uint64_t size, std::string& error) override {
    if (::ftruncate(fd_.get(), static_cast<off_t>(size)) == 0) return true;
    error = ErrnoText("cannot cut back", path_);
    return false;
  }

  bool Sync(std::string& error) override {
    if (::fsync(fd_.get()) == 0) return true;
    error = ErrnoText("cannot write", path_);
    return false;
  }

 private:
  bool Stat(struct stat& facts, std::string& error) {
    if (::fstat(fd_.get(), &facts) == 0) return true;
    error = ErrnoText("cannot examine", path_);
    return false;
  }

  UniqueFd fd_;
  std::filesystem::path path_;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Root's new file in a folder that belongs to someone else (the service's user) becomes theirs,
// so that their programs may append to it as well.
bool GiveToFolderOwner(int fd, const WritePlace& place, std::string& error) {
  if (::geteuid() != 0 || place.folder_facts.st_uid == 0) return true;
  if (::fchown(fd, place.folder_facts.st_uid, place.folder_facts.st_gid) == 0) return true;
  error = ErrnoText("cannot give its folder's owner", place.path);
  return false;
}

}  // namespace

std::unique_ptr<LineFile> LineFile::Open(const std::filesystem::path& path, Use use,
                                         FileAccess access, std::string& error) {
  const int access_flags = use == Use::kRead ? O_RDONLY : O_RDWR | O_APPEND;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    WritePlace place;
    if (!FindWritePlace(path, place, error)) return nullptr;
    const int folder = place.folder.get();
    if (place.exists) {
      if (!S_ISREG(place.facts.st_mode)) {
        error = NotRegularFileText(path, KindText(place.facts.st_mode));
        return nullptr;
      }
      // Non-blocking and without following, in case the name was swapped since the look.
      UniqueFd fd(::openat(folder, place.name.c_str(),
                           access_flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      if (!fd.valid() && (errno == ELOOP || errno == ENOENT)) continue;
      if (!fd.valid()) {
        error = ErrnoText("cannot open", place.path);
        return nullptr;
      }
      struct stat facts {};
      if (::fstat(fd.get(), &facts) != 0) {
        error = ErrnoText("cannot examine", place.path);
        return nullptr;
      }
      if (!SameFile(facts, place.facts)) continue;
      return std::make_unique<LinuxLineFile>(std::move(fd), place.path);
    }
    if (use == Use::kRead) {
      errno = ENOENT;
      error = ErrnoText("cannot open", place.path);
      return nullptr;
    }
    const bool owner_only = access == FileAccess::kNewOwnerOnly || access == FileAccess::kOwnerOnly;
    UniqueFd fd(::openat(folder, place.name.c_str(),
                         access_flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                         owner_only ? 0600 : 0644));
    if (!fd.valid() && errno == EEXIST) continue;  // another program made it first
    if (!fd.valid()) {
      error = ErrnoText("cannot create", place.path);
      return nullptr;
    }
    if (!GiveToFolderOwner(fd.get(), place, error)) return nullptr;
    if (access == FileAccess::kReadableByAll && ::fchmod(fd.get(), 0644) != 0) {
      error = ErrnoText("cannot make readable", place.path);
      return nullptr;
    }
    return std::make_unique<LinuxLineFile>(std::move(fd), place.path);
  }
  error = path.string() + " kept changing while it was opened";
  return nullptr;
}

}  // namespace raid
