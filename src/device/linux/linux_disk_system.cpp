// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/linux/linux_disk_system.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "device/linux/sg_io.h"
#include "device/linux/sysfs_block.h"
#include "device/platform_disk_system.h"

#ifndef BLKGETDISKSEQ  // kernel headers older than 5.15
#define BLKGETDISKSEQ _IOR(0x12, 128, __u64)
#endif

namespace raid {

namespace fs = std::filesystem;

struct LinuxDiskSystem::Volume {
  std::string mount_point;
  std::string source;
  BlockDevice device;
};

namespace {

class LinuxDisk : public Disk {
 public:
  // `volume` is set for a volume, whose extent can then be asked for.
  LinuxDisk(int fd, DiskIdentity identity, std::optional<BlockDevice> volume)
      : fd_(fd), identity_(std::move(identity)), volume_(std::move(volume)) {}
  ~LinuxDisk() override { ::close(fd_); }
  LinuxDisk(const LinuxDisk&) = delete;
  LinuxDisk& operator=(const LinuxDisk&) = delete;

  ScsiOutcome ExecuteDataIn(const ScsiDataIn& command) override {
    return ExecuteSgIo(fd_, command);
  }

  std::optional<DiskExtent> VolumeDiskExtent() override {
    if (!volume_) return std::nullopt;
    return BlockDeviceExtent(*volume_);
  }

  DiskIdentity Identity() override { return identity_; }

  // An exclusive BSD lock on the disk's node: the other process's exchange waits for it, and so
  // does udev's probing of the disk, whose reads would land inside a knock sequence. Closing
  // the disk drops it.
  bool HoldAgainstOtherProcesses(std::uint32_t wait_ms) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) return true;  // no locks here: nobody can take it either
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(kLockRetry);
    }
  }

 private:
  static constexpr std::chrono::milliseconds kLockRetry{20};

  int fd_;
  DiskIdentity identity_;
  std::optional<BlockDevice> volume_;
};

OpenFailure FailureFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return OpenFailure::kAccessDenied;
    case ENOENT:
    case ENXIO:      // a number no disk holds now
    case ENODEV:     // its device gone
    case ENOMEDIUM:  // a card reader without a card
      return OpenFailure::kNotFound;
    case EBUSY:
      return OpenFailure::kInUse;
    default:
      return OpenFailure::kOther;
  }
}

// Read-only is enough for READ(10) and INQUIRY through SG_IO; nothing here ever opens a disk
// for writing. Returns the descriptor, or -1 with `error` set.
int OpenReadOnly(const fs::path& path, int& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  error = fd >= 0 ? 0 : errno;
  return fd;
}

void Report(OpenFailure* why, int error) {
  if (why != nullptr) *why = error == 0 ? OpenFailure::kNone : FailureFromErrno(error);
}

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The identity of the disk behind `fd`, asked of the descriptor itself where the kernel can
// say, so that it cannot belong to a disk that took the name after the open.
DiskIdentity IdentityOfOpenDisk(int fd, const fs::path& root, const std::string& name) {
  std::uint64_t sequence = 0;
  if (::ioctl(fd, BLKGETDISKSEQ, &sequence) == 0) return "diskseq " + std::to_string(sequence);
  struct stat node {};
  if (::fstat(fd, &node) == 0 && S_ISBLK(node.st_mode)) {
    const std::string number =
        std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev));
    return SysfsDiskIdentity(root / "sys/dev/block" / number, number);
  }
  // Not a device node (a test's fake tree): what sysfs says of the name.
  return SysfsDiskIdentity(root / "sys/block" / name, "");
}

}  // namespace

LinuxDiskSystem::LinuxDiskSystem(fs::path root) : root_(std::move(root)) {}

fs::path LinuxDiskSystem::HostPath(const std::string& absolute) const {
  return root_ / fs::path(absolute).relative_path();
}

std::unique_ptr<Disk> LinuxDiskSystem::OpenPhysicalDrive(unsigned number, OpenFailure* why) {
  const std::string name = ScsiDiskName(number);
  std::error_code ec;
  if (!fs::exists(root_ / "sys/block" / name, ec)) {
    if (why != nullptr) *why = OpenFailure::kNotFound;
    return nullptr;
  }
  int error = 0;
  const int fd = OpenReadOnly(HostPath("/dev/" + name), error);
  Report(why, error);
  if (fd < 0) return nullptr;
  return std::make_unique<LinuxDisk>(fd, IdentityOfOpenDisk(fd, root_, name), std::nullopt);
}

std::vector<LinuxDiskSystem::Volume> LinuxDiskSystem::MountedVolumes() const {
  std::vector<Volume> volumes;
  for (const MountEntry& entry : ParseMountInfo(ReadWholeFile(HostPath("/proc/self/mountinfo")))) {
    // Pseudo file systems (proc, tmpfs, overlay, ...) have no source under /dev. Of the rest,
    // the mount's device number names the block device (also for sources such as /dev/root
    // that have no node); btrfs shows an anonymous number, so its source node is asked then.
    if (!entry.source.starts_with("/dev/")) continue;
    std::optional<BlockDevice> device = ResolveBlockDevice(root_, entry.major, entry.minor);
    if (!device) {
      struct stat node {};
      if (::stat(HostPath(entry.source).c_str(), &node) != 0 || !S_ISBLK(node.st_mode)) continue;
      device = ResolveBlockDevice(root_, major(node.st_rdev), minor(node.st_rdev));
      if (!device) continue;
    }
    Volume volume{entry.mount_point, entry.source, std::move(*device)};
    // One volume per mount point, in the order first mounted; a later mount over the same
    // point hides the earlier one, so its device is the one that counts.
    const auto same = std::find_if(volumes.begin(), volumes.end(), [&](const Volume& v) {
      return v.mount_point == volume.mount_point;
    });
    if (same != volumes.end()) {
      *same = std::move(volume);
    } else {
      volumes.push_back(std::move(volume));
    }
  }
  return volumes;
}

std::optional<LinuxDiskSystem::Volume> LinuxDiskSystem::FindVolume(
    const std::string& mount_point) const {
  for (Volume& volume : MountedVolumes()) {
    if (volume.mount_point == mount_point) return std::move(volume);
  }
  return std::nullopt;
}

std::vector<std::string> LinuxDiskSystem::LogicalVolumes() {
  std::vector<std::string> names;
  for (Volume& volume : MountedVolumes())
    names.push_back(std::move(volume.mount_point));
  return names;
}

std::unique_ptr<Disk> LinuxDiskSystem::OpenVolume(const std::string& volume, OpenFailure* why) {
  std::optional<Volume> found = FindVolume(volume);
  if (!found) {
    if (why != nullptr) *why = OpenFailure::kNotFound;
    return nullptr;
  }
  // The kernel's node for the device; the mount source when /dev has no such node (inside a
  // container, say).
  int error = 0;
  int fd = OpenReadOnly(HostPath("/dev/" + found->device.name), error);
  if (fd < 0 && error == ENOENT) fd = OpenReadOnly(HostPath(found->source), error);
  Report(why, error);
  if (fd < 0) return nullptr;
  DiskIdentity identity = IdentityOfOpenDisk(fd, root_, found->device.name);
  return std::make_unique<LinuxDisk>(fd, std::move(identity), std::move(found->device));
}

DriveType LinuxDiskSystem::VolumeDriveType(const std::string& volume) {
  // Like GetDriveType for a path that is no volume's root.
  const std::optional<Volume> found = FindVolume(volume);
  if (!found) return DriveType::kNoRootDir;
  return BlockDeviceDriveType(found->device);
}

std::string LinuxDiskSystem::PhysicalDrivePath(unsigned number) {
  return "/dev/" + ScsiDiskName(number);
}

std::unique_ptr<DiskSystem> CreatePlatformDiskSystem() {
  return std::make_unique<LinuxDiskSystem>();
}

}  // namespace raid
