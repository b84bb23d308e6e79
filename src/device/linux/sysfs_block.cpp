#include "device/linux/sysfs_block.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <system_error>

namespace raid {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kSysfsSectorSize = 512;  // "size" and "start" always count 512 bytes

bool IsScsiDiskName(const std::string& name) {
  return name.size() > 2 && name.starts_with("sd") &&
         std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

std::optional<std::string> ReadFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  return line;
}

std::optional<std::uint64_t> ReadNumber(const fs::path& file) {
  const std::optional<std::string> line = ReadFirstLine(file);
  if (!line) return std::nullopt;
  std::uint64_t value = 0;
  const char* end = line->data() + line->size();
  const auto [ptr, ec] = std::from_chars(line->data(), end, value);
  if (ec != std::errc() || ptr == line->data()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<std::string> ScsiDiskNames(const fs::path& root) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(root / "sys/block", ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (IsScsiDiskName(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return names;
}

std::optional<BlockDevice> ResolveBlockDevice(const fs::path& root, unsigned major,
                                              unsigned minor) {
  // sys/dev/block/M:m links to the device's folder; a partition's folder sits inside its disk's.
  std::error_code ec;
  const fs::path link =
      root / "sys/dev/block" / (std::to_string(major) + ":" + std::to_string(minor));
  const fs::path real = fs::canonical(link, ec);
  if (ec) return std::nullopt;
  BlockDevice device;
  device.name = real.filename().string();
  device.sysfs_path = real;
  device.partition = fs::exists(real / "partition", ec);
  device.disk_path = device.partition ? real.parent_path() : real;
  device.disk = device.disk_path.filename().string();
  return device;
}

DriveType BlockDeviceDriveType(const BlockDevice& device) {
  if (device.disk.starts_with("sr")) return DriveType::kCdRom;
  const std::optional<std::uint64_t> removable = ReadNumber(device.disk_path / "removable");
  if (!removable) return DriveType::kUnknown;
  if (*removable == 1) return DriveType::kRemovable;
  // Device-mapper, md, loop and zram report "not removable" too, but are no disk of their own.
  if (device.disk_path.string().find("/devices/virtual/") != std::string::npos) {
    return DriveType::kUnknown;
  }
  return DriveType::kFixed;
}

std::optional<DiskExtent> BlockDeviceExtent(const fs::path& root, const BlockDevice& device) {
  if (!IsScsiDiskName(device.disk)) return std::nullopt;
  const std::vector<std::string> disks = ScsiDiskNames(root);
  const auto found = std::find(disks.begin(), disks.end(), device.disk);
  if (found == disks.end()) return std::nullopt;

  const std::optional<std::uint64_t> size = ReadNumber(device.sysfs_path / "size");
  if (!size) return std::nullopt;
  std::uint64_t start = 0;
  if (device.partition) {
    const std::optional<std::uint64_t> sectors = ReadNumber(device.sysfs_path / "start");
    if (!sectors) return std::nullopt;
    start = *sectors;
  }
  DiskExtent extent;
  extent.disk_number = static_cast<std::uint32_t>(found - disks.begin());
  extent.starting_offset = start * kSysfsSectorSize;
  extent.extent_length = *size * kSysfsSectorSize;
  return extent;
}

}  // namespace raid
