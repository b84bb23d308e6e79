#include "device/linux/linux_disk_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <utility>

#include "device/linux/sg_io.h"
#include "device/linux/sysfs_block.h"
#include "device/platform_disk_system.h"

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
  LinuxDisk(int fd, fs::path root, std::optional<BlockDevice> volume)
      : fd_(fd), root_(std::move(root)), volume_(std::move(volume)) {}
  ~LinuxDisk() override { ::close(fd_); }
  LinuxDisk(const LinuxDisk&) = delete;
  LinuxDisk& operator=(const LinuxDisk&) = delete;

  bool ExecuteDataIn(const ScsiDataIn& command) override { return ExecuteSgIo(fd_, command); }

  std::optional<DiskExtent> VolumeDiskExtent() override {
    if (!volume_) return std::nullopt;
    return BlockDeviceExtent(root_, *volume_);
  }

 private:
  int fd_;
  fs::path root_;
  std::optional<BlockDevice> volume_;
};

OpenFailure FailureFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return OpenFailure::kAccessDenied;
    case ENOENT:
      return OpenFailure::kNotFound;
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

// The kernel's name for a disk that is not there: the one it would get without gaps.
std::string NaturalDiskName(unsigned number) {
  std::string letters;
  for (unsigned n = number + 1; n > 0; n = (n - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('a' + (n - 1) % 26));
  }
  return "sd" + letters;
}

}  // namespace

LinuxDiskSystem::LinuxDiskSystem(fs::path root) : root_(std::move(root)) {}

fs::path LinuxDiskSystem::HostPath(const std::string& absolute) const {
  return root_ / fs::path(absolute).relative_path();
}

std::unique_ptr<Disk> LinuxDiskSystem::OpenPhysicalDrive(unsigned number, OpenFailure* why) {
  const std::vector<std::string> disks = ScsiDiskNames(root_);
  if (number >= disks.size()) {
    if (why != nullptr) *why = OpenFailure::kNotFound;
    return nullptr;
  }
  int error = 0;
  const int fd = OpenReadOnly(HostPath("/dev/" + disks[number]), error);
  Report(why, error);
  if (fd < 0) return nullptr;
  return std::make_unique<LinuxDisk>(fd, root_, std::nullopt);
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
  return std::make_unique<LinuxDisk>(fd, root_, std::move(found->device));
}

DriveType LinuxDiskSystem::VolumeDriveType(const std::string& volume) {
  // Like GetDriveType for a path that is no volume's root.
  const std::optional<Volume> found = FindVolume(volume);
  if (!found) return DriveType::kNoRootDir;
  return BlockDeviceDriveType(found->device);
}

std::string LinuxDiskSystem::PhysicalDrivePath(unsigned number) {
  const std::vector<std::string> disks = ScsiDiskNames(root_);
  return "/dev/" + (number < disks.size() ? disks[number] : NaturalDiskName(number));
}

std::unique_ptr<DiskSystem> CreatePlatformDiskSystem() {
  return std::make_unique<LinuxDiskSystem>();
}

}  // namespace raid
