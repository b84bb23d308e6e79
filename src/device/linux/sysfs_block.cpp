// SPDX-License-Identifier: GPL-2.0-or-later
#include "device/linux/sysfs_block.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <system_error>

namespace raid {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kSysfsSectorSize = 512;  // "size" and "start" always count 512 bytes

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

std::string ScsiDiskName(unsigned number) {
  std::string letters;
  for (unsigned long n = number + 1UL; n > 0; n = (n - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('a' + (n - 1) % 26));
  }
  return "sd" + letters;
}

std::optional<unsigned> ScsiDiskNumber(const std::string& name) {
  // Bijective base 26 after "sd": a = 1, ..., z = 26, aa = 27; the number is one less. Seven
  // letters are far beyond any kernel's disk count and keep the sum inside 32 bits.
  if (name.size() <= 2 || name.size() > 9 || !name.starts_with("sd")) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 2; i < name.size(); ++i) {
    const char c = name[i];
    if (c < 'a' || c > 'z') return std::nullopt;
    value = value * 26 + static_cast<std::uint64_t>(c - 'a' + 1);
  }
  return static_cast<unsigned>(value - 1);
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

std::optional<DiskExtent> BlockDeviceExtent(const BlockDevice& device) {
  const std::optional<unsigned> number = ScsiDiskNumber(device.disk);
  if (!number) return std::nullopt;

  const std::optional<std::uint64_t> size = ReadNumber(device.sysfs_path / "size");
  if (!size) return std::nullopt;
  std::uint64_t start = 0;
  if (device.partition) {
    const std::optional<std::uint64_t> sectors = ReadNumber(device.sysfs_path / "start");
    if (!sectors) return std::nullopt;
    start = *sectors;
  }
  DiskExtent extent;
  extent.disk_number = *number;
  extent.starting_offset = start * kSysfsSectorSize;
  extent.extent_length = *size * kSysfsSectorSize;
  return extent;
}

DiskIdentity SysfsDiskIdentity(const fs::path& sysfs_dir, const std::string& device_number) {
  if (const std::optional<std::uint64_t> sequence = ReadNumber(sysfs_dir / "diskseq")) {
    return "diskseq " + std::to_string(*sequence);
  }
  std::error_code ec;
  const fs::path real = fs::canonical(sysfs_dir, ec);
  if (ec) return {};
  return "dev " + device_number + " " + real.string();
}

}  // namespace raid
