// SPDX-License-Identifier: GPL-2.0-or-later
// The kernel's device events reach the watcher; the recount notices a replaced disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "device/device_watch.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

// A "change" event for a block disk, as the kernel sends when its media changes. Only root may
// ask the kernel for one.
bool TriggerChangeEvent(std::string& why) {
  if (geteuid() != 0) {
    why = "only root can make the kernel send a device event";
    return false;
  }
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/class/block", ec)) {
    if (fs::exists(entry.path() / "partition")) continue;
    const int fd = open((entry.path() / "uevent").c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const bool sent = write(fd, "change", 6) == 6;
    close(fd);
    if (sent) return true;
  }
  why = "no block disk here accepts a uevent";
  return false;
}

TEST(KernelDeviceWatcher, ABlockDiskEventWakesTheWatcherAndIsTakenOnce) {
  std::string why;
  const std::unique_ptr<DeviceChangeWatcher> watcher = CreatePlatformDeviceWatcher(&why);
  if (!watcher) GTEST_SKIP() << why;
  EXPECT_FALSE(watcher->TakeChanges());  // nothing yet, and it does not block
  if (!TriggerChangeEvent(why)) GTEST_SKIP() << why;

  pollfd waiting{watcher->WaitHandle(), POLLIN, 0};
  ASSERT_EQ(poll(&waiting, 1, 5000), 1) << "no event within 5 s";
  EXPECT_TRUE(watcher->TakeChanges());
  EXPECT_FALSE(watcher->TakeChanges());
}

}  // namespace
}  // namespace raid
