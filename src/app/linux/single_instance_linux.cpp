// A lock file in the user's runtime folder, held with flock: the kernel drops the lock when the
// process ends, however it ends, so a crash never leaves a stale lock behind.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "app/single_instance.h"

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

std::string LockPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime != nullptr && *runtime != '\0') {
    return std::string(runtime) + "/raidgui.lock";
  }
  return "/tmp/raidgui-" + std::to_string(::getuid()) + ".lock";
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::Acquire() {
  const int fd = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return std::make_unique<LockFile>(-1);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? nullptr : std::make_unique<LockFile>(-1);
  }
  return std::make_unique<LockFile>(fd);
}

}  // namespace raid
